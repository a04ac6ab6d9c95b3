#!/bin/bash
# A silent install (`setup.exe -hp` under Wine) against `7zz x` of the same
# payload archive, natively, on a generated payload of about 220 MB: text
# that compresses well, skewed bytes that compress somewhat, random data that
# does not, in nested folders with Chinese names. Goal: the install takes at
# most 1.5x the time of 7-Zip's extraction.
#
# The stub is the Windows tree this machine can run (build/win32, else
# build/win64). Both sides write to the same disk (build/bench) and run
# twice, alternating; the best wall time of each counts. The installed files
# are compared with the payload.
#
# Environment: ZUL_NATIVE_BUILD (native build folder, default build/native),
# ZUL_WINDOWS_BUILD (Windows build folder), ZUL_BENCH_DIR (work folder,
# default build/bench/silent-install).
set -euo pipefail
cd "$(dirname "$0")/../.."
native=${ZUL_NATIVE_BUILD:-build/native}
if [[ -n ${ZUL_WINDOWS_BUILD:-} ]]; then
  windows=$ZUL_WINDOWS_BUILD
elif [[ $(scripts/wine-loader) == wine ]]; then
  windows=build/win32
else
  windows=build/win64
fi
work=$(realpath -m "${ZUL_BENCH_DIR:-build/bench/silent-install}")
project=$work/project
payload=$project/payload
setup=$work/setup.exe
archive=$work/payload.7z
reference_out=$work/7zz-out

cmake --build "$native" --target zulpack -j2 >/dev/null
cmake --build "$windows" --target zulsetup -j2 >/dev/null
stub=$windows/src/app/zulsetup.exe

if [[ ! -f $payload/.complete ]]; then
  rm -rf "$project"
  mkdir -p "$payload" "$project/config"
  python3 - "$payload" <<'EOF'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20261210)
words = ["install", "setup", "registry", "folder", "payload", "archive", "value", "key", "程序", "文件",
         "安装", "目录", "error", "warning", "0x7f", "done", "copy", "read", "write", "block"]
def put(name, data):
    path = os.path.join(root, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
# ~100 MB of log-like text in 200 files.
for i in range(200):
    lines = []
    size = 0
    while size < 500_000:
        line = f"{i:03d}:{size:08d} " + " ".join(rng.choice(words) for _ in range(rng.randint(4, 14))) + \
               f" {rng.randint(0, 99999)}\n"
        lines.append(line)
        size += len(line.encode())
    put(f"文档/日志{i // 50}/log{i:03d}.txt", "".join(lines).encode())
# ~40 MB of skewed bytes (compress to about half) in 20 files.
weights = [2 ** -(b // 16) for b in range(256)]
for i in range(20):
    put(f"data/table{i:02d}.bin", bytes(rng.choices(range(256), weights, k=2_000_000)))
# ~80 MB of random data in 10 files.
for i in range(10):
    put(f"media/深层/片段{i}.dat", os.urandom(8_000_000))
EOF
  touch "$payload/.complete"
  rm -f "$setup"
fi
cat > "$project/config/data.ini" <<'EOF'
[禾弋软件安装配置]
禾弋软件名称=性能测试
软件版本=1.0
安装位置=C:\性能测试
是否生成卸载程序=0
安装后是否显示完成界面=假
EOF
input=$(du -sb --exclude=.complete "$payload" | cut -f1)

if [[ ! -f $setup ]]; then
  mv "$payload/.complete" "$work/.complete"
  "$native/tools/zulpack/zulpack" build "$project" --stub "$stub" -o "$setup" >/dev/null
  mv "$work/.complete" "$payload/.complete"
fi
# The payload section of the setup file is the archive 7-Zip extracts.
read -r offset size < <("$native/tools/zulpack/zulpack" inspect "$setup" |
                        awk '$1 == "payload" && $2 == "offset" { gsub(",", "", $3); print $3, $5 }')
tail -c +$((offset + 1)) "$setup" | head -c "$size" > "$archive"
7zz t -bd -bso0 -bsp0 "$archive"

root=$work/wine
scripts/wine-prefix "$root"
export WINEPREFIX=$root/prefix HOME=$root/home WINEDEBUG=-all LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine=$(scripts/wine-loader)
target=$WINEPREFIX/drive_c/性能测试
# Wine's own start-up (the server, the prefix's services) is not the
# installer's work: a first program brings it up and it stays for the runs.
wineserver -p 120
"$wine" cmd /c exit >/dev/null 2>&1 || true

now() { date +%s.%N; }
best_ref=999999
best_zul=999999
for round in 1 2; do
  rm -rf "$reference_out"
  sync
  start=$(now)
  7zz x -bd -bso0 -bsp0 -y -o"$reference_out" "$archive"
  t=$(echo "$(now) - $start" | bc)
  best_ref=$(echo "if ($t < $best_ref) $t else $best_ref" | bc)

  rm -rf "$target"
  sync
  start=$(now)
  code=0
  "$wine" "$setup" -hp >/dev/null 2>&1 || code=$?
  t=$(echo "$(now) - $start" | bc)
  best_zul=$(echo "if ($t < $best_zul) $t else $best_zul" | bc)
  if [[ $code != 0 ]]; then echo "  FAIL: setup.exe -hp ended with exit code $code"; exit 1; fi
done
wineserver -k || true
diff -r --exclude=.complete "$payload" "$target" >/dev/null || { echo "  FAIL: installed files differ from the payload"; exit 1; }
diff -r --exclude=.complete "$payload" "$reference_out" >/dev/null || { echo "  FAIL: 7zz's files differ from the payload"; exit 1; }
rm -rf "$reference_out" "$target"

ratio=$(echo "scale=3; $best_zul / $best_ref" | bc)
printf 'silent-install: %d bytes in %d-byte payload archive (%s stub)\n' "$input" "$size" "$windows"
printf '  7zz x:               %.2f s\n' "$best_ref"
printf '  setup.exe -hp, Wine: %.2f s (x%s of 7-Zip; goal at most x1.5)\n' "$best_zul" "$ratio"
if [[ $(echo "$ratio > 1.5" | bc) == 1 ]]; then
  echo "  FAIL: the silent install takes more than 1.5x 7-Zip's extraction"
  exit 1
fi
echo "  ok"
