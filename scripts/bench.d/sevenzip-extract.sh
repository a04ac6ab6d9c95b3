#!/bin/bash
# The built-in 7z reader against 7-Zip on a mixed payload of about 220 MB
# (Windows executables and DLLs, C headers, message catalogues, random data)
# in one solid LZMA2 archive made by `7zz a -mx5` (BCJ on the executables).
# Goals: extraction at least 0.9x the speed of `7zz x -mmt1`, peak memory at
# most the dictionary (32 MiB at -mx5) + 16 MiB.
#
# Each side runs three times, alternating; the best wall time of each counts.
# Output goes to /dev/shm when it exists, so that the disk's noise stays out.
#
# Environment: ZUL_NATIVE_BUILD (native build folder, default build/native),
# ZUL_BENCH_DIR (work folder for the payload and archive, default /tmp/zul-bench).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${ZUL_NATIVE_BUILD:-build/native}
work=${ZUL_BENCH_DIR:-/tmp/zul-bench}
payload=$work/sevenzip-payload
archive=$work/sevenzip-extract.7z
out=/dev/shm/zul-sevenzip-bench
[ -d /dev/shm ] || out=$work/sevenzip-out

if [ ! -x "$build/src/sevenzip/zul7z_bench" ]; then
  cmake -S . -B "$build" >/dev/null
fi
cmake --build "$build" --target zul7z_bench -j2 >/dev/null

# Copies files of a source folder in name order until `budget` MB are taken,
# leaving out names that differ from an earlier one only in case.
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
  take /usr/lib/x86_64-linux-gnu/wine/x86_64-windows "$payload/bin64" 100
  take /usr/include "$payload/include" 60
  take /usr/share/locale "$payload/locale" 40
  head -c $((20 * 1048576)) /dev/urandom > "$payload/media.bin"
  touch "$payload/.complete"
fi
if [ ! -f "$archive" ] || [ "$payload/.complete" -nt "$archive" ]; then
  rm -f "$archive"
  (cd "$payload" && 7zz a -mx5 -m0=LZMA2 -ms=on -bd -bso0 -bsp0 -x!.complete "$archive" .)
fi
input=$(du -sb --exclude=.complete "$payload" | cut -f1)

now() { date +%s.%N; }
best_ref=999999
best_zul=999999
peak=0
for round in 1 2 3; do
  rm -rf "$out"
  start=$(now)
  7zz x -mmt1 -bd -bso0 -bsp0 -y -o"$out" "$archive"
  t=$(echo "$(now) - $start" | bc)
  best_ref=$(echo "if ($t < $best_ref) $t else $best_ref" | bc)

  rm -rf "$out"
  start=$(now)
  report=$("$build/src/sevenzip/zul7z_bench" "$archive" "$out")
  t=$(echo "$(now) - $start" | bc)
  best_zul=$(echo "if ($t < $best_zul) $t else $best_zul" | bc)
  rss=$(echo "$report" | awk '/^peak_rss_kib/ { print $2 }')
  [ "$rss" -gt "$peak" ] && peak=$rss
done
diff -r --exclude=.complete "$payload" "$out" >/dev/null || { echo "  FAIL: extracted files differ from the payload"; exit 1; }
rm -rf "$out"

speed=$(echo "scale=3; $best_ref / $best_zul" | bc)
limit=$(((32 + 16) * 1024))
printf 'sevenzip-extract: %d bytes in %d-byte archive\n' "$input" "$(stat -c %s "$archive")"
printf '  7zz x -mmt1:  %.2f s\n' "$best_ref"
printf '  zul7z_bench:  %.2f s (speed x%s of 7-Zip), peak memory %d KiB (limit %d KiB)\n' "$best_zul" "$speed" "$peak" "$limit"
status=0
if [ "$(echo "$speed < 0.9" | bc)" = 1 ]; then echo "  FAIL: slower than 0.9x 7-Zip's single-thread extraction"; status=1; fi
if [ "$peak" -gt "$limit" ]; then echo "  FAIL: peak memory above dictionary + 16 MiB"; status=1; fi
[ $status = 0 ] && echo "  ok"
exit $status
