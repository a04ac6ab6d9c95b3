#!/bin/bash
# zulpack's 7z writer against 7-Zip on a mixed payload of about 220 MB
# (Windows executables and DLLs, C headers, message catalogues, random data).
# Goals: archive at most 3% larger than `7zz a -mx5`, wall time at most 1.2x.
#
# Environment: ZUL_NATIVE_BUILD (native build folder, default build/native),
# ZUL_BENCH_DIR (work folder for the payload and archives, default /tmp/zul-bench).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${ZUL_NATIVE_BUILD:-build/native}
work=${ZUL_BENCH_DIR:-/tmp/zul-bench}
payload=$work/payload

if [ ! -x "$build/tools/zulpack/zulpack_archive_bench" ]; then
  cmake -S . -B "$build" >/dev/null
fi
cmake --build "$build" --target zulpack_archive_bench -j2 >/dev/null

# Copies files of a source folder in name order until `budget` MB are taken,
# leaving out names that differ from an earlier one only in case (a Windows
# folder cannot hold both).
take() {
  local from=$1 to=$2 budget=$(($3 * 1048576))
  [ -d "$from" ] || return 0
  mkdir -p "$to"
  (cd "$from" && find . -type f -printf '%s %P\n' | LC_ALL=C sort -k2 |
    awk -v budget="$budget" '{ size = $1; name = substr($0, length($1) + 2); key = tolower(name)
                               if (key in seen) next; seen[key] = 1
                               if (full || taken + size > budget) { full = 1; next }; taken += size; print name }' |
    tar -cf - --verbatim-files-from -T -) | tar -xf - -C "$to"
}

if [ ! -f "$payload/.complete" ]; then
  rm -rf "$payload"
  mkdir -p "$payload"
  take /usr/lib/i386-linux-gnu/wine/i386-windows "$payload/bin" 100
  take /usr/include "$payload/include" 60
  take /usr/share/locale "$payload/locale" 40
  head -c $((20 * 1048576)) /dev/urandom > "$payload/media.bin"
  touch "$payload/.complete"
fi
input=$(du -sb --exclude=.complete "$payload" | cut -f1)

# Wall, user and system seconds of a command, in that order.
timed() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>"$work/stderr.log"; } 2>&1
}
rm -f "$work/ref.7z" "$work/zul.7z"
read -r ref_time ref_user ref_sys < <(cd "$payload" && timed 7zz a -mx5 -bd -bso0 -bsp0 '-x!.complete' "$work/ref.7z" .)
ref_size=$(stat -c %s "$work/ref.7z")

rm -f "$payload/.complete"
read -r zul_time zul_user zul_sys < <(timed "$build/tools/zulpack/zulpack_archive_bench" "$payload" "$work/zul.7z" --threads 2 --preset 5)
touch "$payload/.complete"
zul_size=$(stat -c %s "$work/zul.7z")
7zz t -bd -bso0 -bsp0 "$work/zul.7z"

size_ratio=$(echo "scale=4; $zul_size / $ref_size" | bc)
time_ratio=$(echo "scale=4; $zul_time / $ref_time" | bc)
printf 'zulpack-writer: input %d bytes\n' "$input"
printf '  7zz a -mx5: %d bytes in %.2f s (CPU %.2f s user, %.2f s system)\n' "$ref_size" "$ref_time" "$ref_user" "$ref_sys"
printf '  zulpack:    %d bytes in %.2f s (CPU %.2f s user, %.2f s system; size x%s, time x%s)\n' \
  "$zul_size" "$zul_time" "$zul_user" "$zul_sys" "$size_ratio" "$time_ratio"
printf '  load average at the end: %s (other work on the machine distorts the wall times)\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
status=0
if [ "$(echo "$size_ratio > 1.03" | bc)" = 1 ]; then echo "  FAIL: archive more than 3% larger than 7-Zip's"; status=1; fi
if [ "$(echo "$time_ratio > 1.2" | bc)" = 1 ]; then echo "  FAIL: more than 1.2x 7-Zip's time"; status=1; fi
[ $status = 0 ] && echo "  ok"
exit $status
