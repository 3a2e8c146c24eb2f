#!/usr/bin/env bash
# The benchmark of rowsift-list: `make bench-list` (see README).
# Usage: bench/list.sh BUILD_DIR [ROUNDS] [BIG_DIR] [SMALL_DIR]
# Hashes BIG_DIR (/usr) and SMALL_DIR (/usr/share) with a warm page cache,
# ROUNDS rounds with every tool in turn, and prints the median wall time,
# CPU time and peak memory of each with the ratios the targets name:
# against find | xargs md5sum (one and two at a time), against the floor
# (for MD5 and SHA-256 bytes / (2 x one core's `openssl speed -evp`
# rate); for xxh128 and the tools it is set beside, the read floor:
# two threads reading every file into a buffer, bench/read_floor), and
# the files per second on the small files.  hashdeep, rhash and b3sum run
# too when installed, on the same file list (hashdeep alone would follow
# symbolic links); then -a xxh128's ratios to b3sum, xxhsum -P2 and the
# read floor.
# A re-snapshot of the unchanged BIG_DIR with --reuse runs beside its full
# MD5 snapshot and beside a walk that stats every file (find -printf).
set -euo pipefail
cd "$(dirname "$0")/.."

build=$1
rounds=${2:-3}
big=${3:-/usr}
small=${4:-/usr/share}
measure=$build/measure
read_floor=$build/read_floor
list=$build/rowsift-list
work=bench/cache/list
mkdir -p "$work"
rm -f "$work"/times.*

# One file list per tree, as find gives it, for the tools that take names.
for tree in big small; do
	dir=${!tree}
	find "$dir" -type f -print0 > "$work/files.$tree"
	xargs -0 cat < "$work/files.$tree" > /dev/null 2>&1 || true
done

# The earlier listing the re-snapshots take their hashes from.
"$list" -q -o "$work/earlier.big" "$big"

# The rate of one core, in bytes per second, at 16 KiB blocks.
core_rate() {
	openssl speed -evp "$1" -seconds 3 2>/dev/null |
	    awk -v a="$1" '$1 == a { v = $NF; sub(/k$/, "", v); print v * 1000 }'
}

bytes_of() {
	xargs -0 stat -c %s < "$work/files.$1" | awk '{ s += $1 } END { printf "%.0f\n", s }'
}

files_of() {
	tr -cd '\0' < "$work/files.$1" | wc -c
}

have() {
	command -v "$1" > /dev/null 2>&1
}

# run KIND TREE COMMAND...: one timed run, stdout thrown away.
run() {
	local kind=$1 tree=$2
	shift 2
	"$measure" "$work/times.$tree.$kind" bash -c "$*" > /dev/null 2>&1
}

round() {
	local tree=$1 dir=${!1} files=$work/files.$1
	run md5sum "$tree" "xargs -0 md5sum < $files > /dev/null"
	run md5sum-P2 "$tree" "xargs -0 -P2 md5sum < $files > /dev/null"
	run list-md5 "$tree" "$list -q $dir > /dev/null"
	run read-floor "$tree" "$read_floor $files"
	run list-xxh128 "$tree" "$list -q -a xxh128 $dir > /dev/null"
	run xxhsum-P2 "$tree" "xargs -0 -P2 -n 500 xxhsum -H2 < $files > /dev/null"
	if have b3sum; then
		run b3sum "$tree" "xargs -0 b3sum < $files > /dev/null"
	fi
	if [ "$tree" = big ]; then
		run list-sha256 "$tree" "$list -q -a sha256 $dir > /dev/null"
		run sha256sum-P2 "$tree" "xargs -0 -P2 sha256sum < $files > /dev/null"
		run reuse "$tree" "$list -q --reuse $work/earlier.big $dir > /dev/null"
		run find-walk "$tree" "find $dir -printf '%s %T@ %C@\\n' > /dev/null"
	fi
	if have hashdeep; then
		run hashdeep "$tree" "tr '\\0' '\\n' < $files | hashdeep -c md5 -f /dev/stdin > /dev/null"
	fi
	if have rhash; then
		run rhash "$tree" "xargs -0 rhash --md5 < $files > /dev/null"
	fi
}

median() {
	sed -n "s/.*\\b$2=\\([0-9.]*\\).*/\\1/p" "$work/times.$1" | sort -n |
	    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

for ((i = 1; i <= rounds; i++)); do
	echo "round $i of $rounds ..." >&2
	round big
	round small
done

md5_rate=$(core_rate md5)
sha_rate=$(core_rate sha256)
echo
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1);" \
    "load $(cut -d' ' -f1-3 /proc/loadavg); median of $rounds rounds"
echo "one core, openssl speed -evp: md5 $(awk -v r="$md5_rate" 'BEGIN { printf "%.0f", r / 1e6 }') MB/s," \
    "sha256 $(awk -v r="$sha_rate" 'BEGIN { printf "%.0f", r / 1e6 }') MB/s"
for tree in big small; do
	dir=${!tree}
	bytes=$(bytes_of $tree)
	files=$(files_of $tree)
	echo
	echo "$dir: $files files, $bytes bytes"
	printf '%-14s %8s %8s %9s %9s %9s %9s %10s\n' run wall_s cpu_s peak_MiB vs_md5sum vs_P2 vs_floor files/s
	base=$(median "$tree.md5sum" wall)
	base2=$(median "$tree.md5sum-P2" wall)
	read_floor_wall=$(median "$tree.read-floor" wall)
	for kind in md5sum md5sum-P2 hashdeep rhash sha256sum-P2 list-md5 list-sha256 \
	    read-floor b3sum xxhsum-P2 list-xxh128; do
		[ -f "$work/times.$tree.$kind" ] || continue
		wall=$(median "$tree.$kind" wall)
		cpu=$(median "$tree.$kind" cpu)
		rss=$(median "$tree.$kind" rss_kib)
		rate=$md5_rate
		case $kind in *sha256*) rate=$sha_rate ;; esac
		floor=$(awk -v n="$bytes" -v r="$rate" 'BEGIN { print n / (2 * r) }')
		case $kind in read-floor | b3sum | xxh* | list-xxh*) floor=$read_floor_wall ;; esac
		awk -v k="$kind" -v w="$wall" -v c="$cpu" -v m="$rss" -v b="$base" -v b2="$base2" \
		    -v floor="$floor" -v f="$files" 'BEGIN {
			printf "%-14s %8.2f %8.2f %9.1f %9.3f %9.3f %9.3f %10.0f\n",
			    k, w, c, m / 1024, w / b, w / b2, w / floor, f / w }'
	done
	xxh=$(median "$tree.list-xxh128" wall)
	line="-a xxh128: vs xxhsum -P2 $(awk -v a="$xxh" -v b="$(median "$tree.xxhsum-P2" wall)" \
	    'BEGIN { printf "%.3f", a / b }'), vs read floor $(awk -v a="$xxh" -v b="$read_floor_wall" \
	    'BEGIN { printf "%.3f", a / b }')"
	if [ -f "$work/times.$tree.b3sum" ]; then
		line+=", vs b3sum $(awk -v a="$xxh" -v b="$(median "$tree.b3sum" wall)" \
		    'BEGIN { printf "%.3f", a / b }')"
	fi
	echo "$line"
done
echo
echo "re-snapshot of $big, unchanged, with --reuse:"
printf '%-14s %8s %8s %9s %9s %9s\n' run wall_s cpu_s peak_MiB vs_full vs_walk
full=$(median big.list-md5 wall)
walk=$(median big.find-walk wall)
for kind in find-walk reuse; do
	awk -v k="$kind" -v w="$(median big.$kind wall)" -v c="$(median big.$kind cpu)" \
	    -v m="$(median big.$kind rss_kib)" -v f="$full" -v s="$walk" 'BEGIN {
		printf "%-14s %8.2f %8.2f %9.1f %9.3f %9.3f\n", k, w, c, m / 1024, w / f, w / s }'
done
echo
echo "vs_floor: MD5 and SHA-256 runs against bytes / (2 x one core's openssl rate);" \
    "read-floor, b3sum and xxh runs against read-floor's wall time"
echo "targets: /usr md5 vs_md5sum <= 0.5, vs_P2 <= 0.85, vs_floor <= 1.2;" \
    "sha256 vs_floor <= 1.2; /usr/share md5 >= 70000 files/s;" \
    "/usr xxh128 vs b3sum <= 0.5, vs xxhsum -P2 <= 1.1, vs read floor <= 1.2;" \
    "reuse vs_full <= 0.1, vs_walk <= 1.1"
