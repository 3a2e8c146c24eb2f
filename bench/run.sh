#!/usr/bin/env bash
# The benchmark: `make bench N=1000000` (see README, "Benchmark").
# Usage: bench/run.sh BUILD_DIR RECORDS [ROUNDS]
# Generates two listings once into bench/cache, then runs rowsift (results
# to a file with -o, progress to stderr) and the LC_ALL=C sort + comm -3
# pipeline in turn, ROUNDS rounds interleaved, and prints the median wall
# time, CPU time and peak memory of each.  Every run's set of missing
# records is checked against the pipeline's before any time is shown.
set -euo pipefail
cd "$(dirname "$0")/.."

build=$1
records=$2
rounds=${3:-3}
length=${LENGTH:-100}
share=${SHARE:-0.001}
seed=${SEED:-1}

measure=$build/measure
rowsift=$build/rowsift
cache=bench/cache/$records-$length-$share-$seed
work=bench/cache/run
mkdir -p "$cache" "$work"
rm -f "$work"/*

a=$cache/a.txt
b=$cache/b.txt
if [ ! -f "$cache/done" ]; then
	echo "generating $records records of $length characters into $cache ..."
	"$build/make_listings" "$records" "$length" "$share" "$seed" "$a" "$b"
	touch "$cache/done"
fi
# Both files in the page cache, as for every later run.
cat "$a" "$b" > /dev/null

# Runs rowsift with the given options and checks what it found against the
# pipeline's answer.
run_rowsift() {
	local kind=$1
	shift
	rm -f "$work/out" "$work/out.log"
	"$measure" --phases "$work/times.$kind" "$rowsift" "$a" "$b" "$@" -o "$work/out" > /dev/null
	awk -v a="in file: $a |" -v b="in file: $b |" '
		{ sub(/\r$/, "") }
		index($0, a) == 1 { sub(/^[^|]*\|[^|]*\|/, ""); print "1\t" $0; next }
		index($0, b) == 1 { sub(/^[^|]*\|[^|]*\|/, ""); print "2\t" $0; next }
		{ print "?\t" $0 }' "$work/out" | LC_ALL=C sort > "$work/found.$kind"
	if ! cmp -s "$work/found.$kind" "$work/expected"; then
		echo "rowsift $* found other records than the pipeline; see $work/found.$kind" >&2
		exit 1
	fi
}

run_pipeline() {
	"$measure" "$work/times.pipeline" bash -c \
	    'LC_ALL=C sort "$1" > "$3/a"; LC_ALL=C sort "$2" > "$3/b"; LC_ALL=C comm -3 "$3/a" "$3/b" > "$3/comm"' \
	    pipeline "$a" "$b" "$work"
	awk '{ sub(/\r$/, "") } /^\t/ { print "2" $0; next } { print "1\t" $0 }' "$work/comm" |
	    LC_ALL=C sort > "$work/expected"
	rm -f "$work/a" "$work/b"
}

kinds="default pipeline hash nocase field"
for round in $(seq 1 "$rounds"); do
	echo "round $round of $rounds ..."
	run_pipeline
	run_rowsift default
	run_rowsift hash -h
	run_rowsift nocase -i
	run_rowsift field -d 29 -l 32
done

# The median of one field over a kind's rounds.
median() {
	sed -n "s/.*\\b$2=\\([0-9.]*\\).*/\\1/p" "$work/times.$1" | sort -n |
	    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

size_a=$(stat -c %s "$a")
size_b=$(stat -c %s "$b")
echo
echo "$records records of $length characters per listing, $share replaced, seed $seed;" \
    "files $size_a + $size_b bytes; median of $rounds rounds"
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1); load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-30s %9s %9s %10s %8s\n' run wall_s cpu_s peak_MiB vs_pipe
pipe_wall=$(median pipeline wall)
budget=$(( (size_a + size_b + 24 * 2 * records) / 1024 ))
for kind in $kinds; do
	case $kind in
	default) label="rowsift" ;;
	pipeline) label="sort + sort + comm -3" ;;
	hash) label="rowsift -h" ;;
	nocase) label="rowsift -i" ;;
	field) label="rowsift -d 29 -l 32" ;;
	esac
	wall=$(median "$kind" wall)
	cpu=$(median "$kind" cpu)
	rss=$(median "$kind" rss_kib)
	printf '%-30s %9.2f %9.2f %10.0f %8s\n' "$label" "$wall" "$cpu" "$(awk "BEGIN { print $rss / 1024 }")" \
	    "$(awk "BEGIN { printf \"%.3f\", $wall / $pipe_wall }")"
done
echo "memory budget (files + 24 bytes per record): $((budget / 1024)) MiB"
echo
echo "rowsift by step (median seconds; 'passes' runs from the first progress counter to the end):"
printf '%-12s' run
for phase in count read extract sort passes other; do printf ' %8s' "$phase"; done
echo
for kind in default hash nocase field; do
	printf '%-12s' "$kind"
	for phase in count read extract sort passes other; do printf ' %8.3f' "$(median "$kind" "$phase")"; done
	echo
done
rm -f "$work"/a "$work"/b "$work"/comm
