#!/usr/bin/env bash
# The benchmark: `make bench N=1000000` (see README, "Benchmark").
# Usage: bench/run.sh BUILD_DIR RECORDS [ROUNDS]
# Generates two pairs of listings once into bench/cache: each listing
# shuffled, and both sorted by their path column as the listings of one
# tree are.  For each pair it then runs, ROUNDS rounds interleaved: cat of
# both files (the floor), the LC_ALL=C sort + comm -3 pipeline, rowsift
# with -o (the file run), rowsift with its results on the console
# redirected to a file and stderr to another, and -c; for the shuffled
# pair also both streams into one file, and -h, -i and -d 29 -l 32 as the
# console run.  With BASE set to a git revision, the file run, the default
# run and -c of that revision, built once into bench/cache, run beside
# them.  It prints the median wall time, CPU time and peak memory of each
# and their ratios to the floor, the pipeline and the same run of BASE.
# Every rowsift run's set of missing records is checked against the
# pipeline's before any time is shown.
set -euo pipefail
cd "$(dirname "$0")/.."

build=$1
records=$2
rounds=${3:-3}
length=${LENGTH:-100}
share=${SHARE:-0.001}
seed=${SEED:-1}

base=${BASE:-}

measure=$build/measure
rowsift=$build/rowsift
work=bench/cache/run
mkdir -p "$work"
rm -rf "${work:?}"/*

# The revision to compare with, built once from its own tree.
base_rowsift=
if [ -n "$base" ]; then
	base_tree=bench/cache/base-$base
	if [ ! -x "$base_tree/build/rowsift" ]; then
		echo "building $base into $base_tree ..."
		rm -rf "$base_tree"
		mkdir -p "$base_tree"
		git archive "$base" | tar -x -C "$base_tree"
		cmake -S "$base_tree" -B "$base_tree/build" -DCMAKE_BUILD_TYPE=Release > /dev/null
		cmake --build "$base_tree/build" -j 2 --target rowsift > /dev/null
	fi
	base_rowsift=$base_tree/build/rowsift
fi

# The pair of listings in one order: shuffled (each in its own) or sorted.
listings_of() {
	cache=bench/cache/$records-$length-$share-$seed
	[ "$1" = sorted ] && cache=$cache-sorted
	mkdir -p "$cache"
	a=$cache/a.txt
	b=$cache/b.txt
	if [ ! -f "$cache/done" ]; then
		echo "generating $records $1 records of $length characters into $cache ..."
		"$build/make_listings" "$records" "$length" "$share" "$seed" "$a" "$b" "$1"
		touch "$cache/done"
	fi
}

# The records each direction reported, one per line after its direction,
# from the -o output file (first argument "file") or the console output.
found_records() {
	if [ "$1" = file ]; then
		awk -v a="in file: $a |" -v b="in file: $b |" '
			{ sub(/\r$/, "") }
			index($0, a) == 1 { sub(/^[^|]*\|[^|]*\|/, ""); print "1\t" $0; next }
			index($0, b) == 1 { sub(/^[^|]*\|[^|]*\|/, ""); print "2\t" $0; next }
			{ print "?\t" $0 }' "$2"
	else
		awk -v a="Found the following entry in $a not in $b" \
		    -v b="Found the following entry in $b not in $a" '
			$0 == a { getline; sub(/\r$/, ""); print "1\t" $0 }
			$0 == b { getline; sub(/\r$/, ""); print "2\t" $0 }' "$2"
	fi | LC_ALL=C sort
}

check_found() {
	if ! cmp -s "$work/found.$1" "$work/expected"; then
		echo "rowsift ($1) found other records than the pipeline; see $work/found.$1" >&2
		exit 1
	fi
}

# The file run: results with -o, progress to stderr, which measure reads
# for the time of each step.  The runs below take the program, and the
# name of the run ("base_" first for BASE's).
run_file() {
	local program=$1 kind=$2
	rm -f "$work/out" "$work/out.log"
	"$measure" --phases "$work/times.$kind" sh -c '"$@" > /dev/null' sh \
	    "$program" "$a" "$b" -o "$work/out"
	found_records file "$work/out" > "$work/found.$kind"
	check_found "$kind"
}

# A run with its results on the console: stdout and stderr into two files,
# or (kind "merged") both into one, the records among the counters.
run_console() {
	local program=$1 kind=$2
	shift 2
	if [ "$kind" = merged ]; then
		"$measure" "$work/times.$kind" sh -c '"$@" > "$0" 2>&1' "$work/all" \
		    "$program" "$a" "$b" "$@"
	else
		"$measure" "$work/times.$kind" sh -c '"$@" > "$0" 2> "$0.err"' "$work/all" \
		    "$program" "$a" "$b" "$@"
	fi
	found_records console "$work/all" > "$work/found.$kind"
	check_found "$kind"
}

# The change report: every record either listing holds alone is on one
# side of exactly one of its lines, a changed, moved or touched file on
# both.
run_change() {
	local program=$1 kind=$2
	"$measure" "$work/times.$kind" sh -c '"$@" > "$0" 2> "$0.err"' "$work/all" \
	    "$program" "$a" "$b" -c
	local totals only_1 only_2
	totals=$(tail -n 1 "$work/all")
	only_1=$(grep -c '^1' "$work/expected" || true)
	only_2=$(grep -c '^2' "$work/expected" || true)
	if ! echo "$totals" | awk -v one="$only_1" -v two="$only_2" '
	    { pairs = $1 + $3 + $9; exit !(pairs + $7 == one && pairs + $5 == two) }'; then
		echo "rowsift -c ($kind): \"$totals\" does not add up to $only_1 and $only_2 records" >&2
		exit 1
	fi
}

# Reading both files once: the floor.
run_floor() {
	"$measure" "$work/times.floor" sh -c 'cat "$0" "$1" > /dev/null' "$a" "$b"
}

run_pipeline() {
	"$measure" "$work/times.pipeline" bash -c \
	    'LC_ALL=C sort "$1" > "$3/a"; LC_ALL=C sort "$2" > "$3/b"; LC_ALL=C comm -3 "$3/a" "$3/b" > "$3/comm"' \
	    pipeline "$a" "$b" "$work"
	awk '{ sub(/\r$/, "") } /^\t/ { print "2" $0; next } { print "1\t" $0 }' "$work/comm" |
	    LC_ALL=C sort > "$work/expected"
	rm -f "$work/a" "$work/b"
}

# The median of one field over a kind's rounds.
median() {
	sed -n "s/.*\\b$2=\\([0-9.]*\\).*/\\1/p" "$work/times.$1" | sort -n |
	    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ratio() { awk "BEGIN { printf \"%.2f\", $(median "$1" wall) / $(median "$2" wall) }"; }

label_of() {
	case $1 in
	floor) echo "cat a b > /dev/null" ;;
	pipeline) echo "sort + sort + comm -3" ;;
	file) echo "rowsift -o out" ;;
	default) echo "rowsift > out 2> err" ;;
	merged) echo "rowsift > all 2>&1" ;;
	hash) echo "rowsift -h > out 2> err" ;;
	nocase) echo "rowsift -i > out 2> err" ;;
	field) echo "rowsift -d 29 -l 32 > out 2> err" ;;
	change) echo "rowsift -c > out 2> err" ;;
	base_*) echo "$base: $(label_of "${1#base_}")" ;;
	esac
}

# Times one pair of listings and prints its table.
bench_order() {
	local order=$1 kinds
	listings_of "$order"
	rm -f "$work"/times.*
	# Both files in the page cache, as for every later run.
	cat "$a" "$b" > /dev/null
	kinds="floor pipeline file default"
	[ "$order" = shuffled ] && kinds="$kinds merged hash nocase field"
	kinds="$kinds change"
	[ -n "$base_rowsift" ] && kinds="$kinds base_file base_default base_change"
	for round in $(seq 1 "$rounds"); do
		echo "$order listings, round $round of $rounds ..."
		run_floor
		run_pipeline
		run_file "$rowsift" file
		[ -n "$base_rowsift" ] && run_file "$base_rowsift" base_file
		run_console "$rowsift" default
		[ -n "$base_rowsift" ] && run_console "$base_rowsift" base_default
		if [ "$order" = shuffled ]; then
			run_console "$rowsift" merged
			run_console "$rowsift" hash -h
			run_console "$rowsift" nocase -i
			run_console "$rowsift" field -d 29 -l 32
		fi
		run_change "$rowsift" change
		[ -n "$base_rowsift" ] && run_change "$base_rowsift" base_change
	done

	local size_a size_b floor_wall pipe_wall budget kind wall against
	size_a=$(stat -c %s "$a")
	size_b=$(stat -c %s "$b")
	echo
	echo "$records records of $length characters per listing, $order, $share replaced, seed $seed;" \
	    "files $size_a + $size_b bytes; median of $rounds rounds"
	echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1); load $(cut -d' ' -f1-3 /proc/loadavg)"
	printf '%-40s %8s %8s %9s %8s %8s %8s\n' run wall_s cpu_s peak_MiB vs_cat vs_pipe vs_base
	floor_wall=$(median floor wall)
	pipe_wall=$(median pipeline wall)
	budget=$(( (size_a + size_b + 24 * 2 * records) / 1024 ))
	for kind in $kinds; do
		wall=$(median "$kind" wall)
		against=-
		if [ -n "$base_rowsift" ] && [ -f "$work/times.base_$kind" ]; then
			against=$(ratio "$kind" "base_$kind")
		fi
		printf '%-40s %8.2f %8.2f %9.0f %8.2f %8.3f %8s\n' "$(label_of "$kind")" "$wall" \
		    "$(median "$kind" cpu)" "$(awk "BEGIN { print $(median "$kind" rss_kib) / 1024 }")" \
		    "$(awk "BEGIN { print $wall / $floor_wall }")" "$(awk "BEGIN { print $wall / $pipe_wall }")" \
		    "$against"
	done
	echo "memory budget (files + 24 bytes per record): $((budget / 1024)) MiB"
	if [ "$order" = shuffled ]; then
		echo "default / file run: $(ratio default file), merged / file run: $(ratio merged file);" \
		    "-h, -i, -d -l / default run: $(ratio hash default), $(ratio nocase default), $(ratio field default);" \
		    "-c / default run: $(ratio change default)"
	else
		echo "default / file run: $(ratio default file); -c / default run: $(ratio change default)"
	fi
	echo
	echo "file run by step (median seconds; 'passes' runs from the first progress counter to the end):"
	for phase in count read extract sort passes other; do printf ' %8s' "$phase"; done
	echo
	for phase in count read extract sort passes other; do printf ' %8.3f' "$(median file "$phase")"; done
	echo
	echo
	rm -f "$work"/a "$work"/b "$work"/comm
}

for order in ${ORDERS:-shuffled sorted}; do
	bench_order "$order"
done
