#!/usr/bin/env python3
"""Builds the 7z test fixtures with Debian's 7zz into OUTDIR.

OUTDIR/tree holds the files every archive is made from; OUTDIR/manifest.txt
lists what a correct extraction must give, one entry a line:
  kind  mtime(FILETIME)  readonly  size  crc32  gbk-name-in-hex
and OUTDIR/archives.txt names each archive that holds the whole tree, with
its password (GBK in hex), tab-separated.
"""
import binascii
import os
import random
import shutil
import subprocess
import sys

out = os.path.abspath(sys.argv[1])
seven = sys.argv[2] if len(sys.argv) > 2 else "7zz"
tree = os.path.join(out, "tree")
shutil.rmtree(out, ignore_errors=True)
os.makedirs(tree)
rnd = random.Random(1234)


def write(rel, data, mtime_ns, readonly=False):
    path = os.path.join(tree, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, ns=(mtime_ns, mtime_ns))
    if readonly:
        os.chmod(path, 0o444)


text = b"".join(
    b"line %d: the quick brown fox jumps over the lazy dog %d\n" % (i, i * i % 977) for i in range(40000))
noise = bytes(rnd.getrandbits(8) for _ in range(200000))
# Code-like bytes: x86 calls and jumps, ARM and Thumb branches, ARM64 BL/ADRP
# words, among ordinary bytes, so every branch filter has work to do.
code = bytearray()
for i in range(60000):
    k = rnd.randrange(10)
    if k == 0:
        code += b"\xe8" + rnd.randrange(-50000, 50000).to_bytes(4, "little", signed=True)
    elif k == 1:
        code += b"\x0f\x84" + rnd.randrange(-5000, 5000).to_bytes(4, "little", signed=True)
    elif k == 2:
        code += rnd.randrange(1 << 24).to_bytes(3, "little") + b"\xeb"
    elif k == 3:
        code += bytes([rnd.getrandbits(8), 0xF0 | rnd.randrange(8), rnd.getrandbits(8), 0xF8 | rnd.randrange(8)])
    elif k == 4:
        code += (0x94000000 | rnd.randrange(1 << 26)).to_bytes(4, "little")
    elif k == 5:
        code += (0x90000000 | rnd.randrange(1 << 24)).to_bytes(4, "little")
    else:
        code += bytes([0x55, 0x89, 0xE5, 0x83, 0xEC, rnd.getrandbits(3)])
code = bytes(code)
try:
    with open("/usr/bin/7zz", "rb") as f:
        elf = f.read(700000)
except OSError:
    elf = code

base = 13_300_000_000_000_000_0  # 2022 in 100 ns units since 1601, as nanoseconds since 1970 below
t0 = 1_650_000_000_123_456_700  # ns since 1970, a multiple of 100 ns
write("readme.txt", b"zulsetup fixture\r\n", t0)
write("text/big.txt", text, t0 + 1_000_000_000)
write("bin/noise.bin", noise, t0 + 2_000_000_000)
write("bin/code.bin", code, t0 + 3_000_000_000)
write("bin/elf.bin", elf, t0 + 4_000_000_000)
write("empty.txt", b"", t0 + 5_000_000_000)
write("readonly.txt", b"do not touch\n", t0 + 6_000_000_000, readonly=True)
write("中文目录/说明文件.txt", "中文内容\n".encode("gbk") * 100, t0 + 7_000_000_000)
deep = "/".join("level%02d" % i for i in range(12))
write(deep + "/deep.txt", b"deep\n" * 10, t0 + 8_000_000_000)
os.makedirs(os.path.join(tree, "empty_dir"))
os.makedirs(os.path.join(tree, "dir_with_empty/inner"))
for d in ("empty_dir", "dir_with_empty/inner", "dir_with_empty"):
    os.utime(os.path.join(tree, d), ns=(t0 + 9_000_000_000, t0 + 9_000_000_000))


def filetime(ns):
    return ns // 100 + 116444736000000000


manifest = []
for root, dirs, files in os.walk(tree):
    for name in dirs + files:
        path = os.path.join(root, name)
        rel = os.path.relpath(path, tree).replace("/", "\\")
        st = os.lstat(path)
        hexname = rel.encode("gbk").hex()
        if os.path.isdir(path):
            manifest.append("dir\t%d\t0\t0\t0\t%s" % (filetime(st.st_mtime_ns), hexname))
        else:
            with open(path, "rb") as f:
                data = f.read()
            ro = 0 if st.st_mode & 0o200 else 1
            manifest.append("file\t%d\t%d\t%d\t%d\t%s" % (filetime(st.st_mtime_ns), ro, len(data),
                                                           binascii.crc32(data), hexname))
with open(os.path.join(out, "manifest.txt"), "w") as f:
    f.write("\n".join(sorted(manifest)) + "\n")

archives = []


def make(name, *switches, password="", files=None):
    target = os.path.join(out, name)
    args = [seven, "a", "-bd", "-bso0", "-bsp0", "-mtc=on", "-mtm=on"] + list(switches)
    if password:
        args.append("-p" + password)
    args += [target] + (files or ["."])
    subprocess.run(args, cwd=tree, check=True)
    archives.append("%s\t%s" % (name, password.encode("gbk").hex()))


make("copy.7z", "-m0=Copy")
make("lzma.7z", "-m0=LZMA", "-ms=off")
make("lzma_lc8.7z", "-m0=LZMA:lc=8:lp=0:pb=0:d=64k", "-ms=on")
make("lzma2_solid.7z", "-m0=LZMA2:d=1m", "-ms=on", "-mhc=on")
make("lzma2_nonsolid_plainheader.7z", "-m0=LZMA2", "-ms=off", "-mhc=off")
make("lzma2_small_blocks.7z", "-m0=LZMA2:d=64k:c=64k", "-ms=on", "-mmt=2")
make("bcj.7z", "-mf=BCJ", "-m0=LZMA2", "-ms=on")
make("bcj2.7z", "-mf=BCJ2", "-m0=LZMA", "-ms=on")
make("delta.7z", "-mf=Delta:4", "-m0=LZMA2", "-ms=on")
make("arm.7z", "-mf=ARM", "-m0=LZMA2", "-ms=on")
make("armt.7z", "-mf=ARMT", "-m0=LZMA2", "-ms=on")
make("arm64.7z", "-mf=ARM64", "-m0=LZMA2", "-ms=on")
make("deflate.7z", "-m0=Deflate", "-ms=off")
make("aes_headers.7z", "-m0=LZMA2", "-mhe=on", password="密码 pw")
make("aes_data.7z", "-m0=LZMA2", "-mhe=off", "-ms=off", password="secret")
make("aes_copy.7z", "-m0=Copy", "-mhe=on", password="x")
make("volumes.7z", "-m0=LZMA2", "-v100k")
archives[-1] = archives[-1].replace("volumes.7z", "volumes.7z.001", 1)

# The archive after leading bytes: a payload copy's 19 marker bytes, and an
# image that holds the signature as a constant before the real archive.
with open(os.path.join(out, "lzma2_solid.7z"), "rb") as f:
    solid = f.read()
with open(os.path.join(out, "leading19.bin"), "wb") as f:
    f.write(b"ZUL-mark=7zipdataA\0" + solid)
archives.append("leading19.bin\t")
with open(os.path.join(out, "false_signature.exe"), "wb") as f:
    f.write(b"MZ" + bytes(5000) + b"7z\xbc\xaf\x27\x1c\x00\x04" + bytes(100) + b"7z\xbc\xaf" + noise[:70000] + solid)
archives.append("false_signature.exe\t")

with open(os.path.join(out, "archives.txt"), "w") as f:
    f.write("\n".join(archives) + "\n")

# A password that the command line's quoting cuts short ("ab" of 'ab"cd').
make("password_ab.7z", "-m0=LZMA2", "-mhe=on", password="ab", files=["readme.txt"])
archives.pop()

# Valid archives of methods we do not decode.
make("unsupported_ppmd.7z", "-m0=PPMd", files=["readme.txt"])
make("unsupported_bzip2.7z", "-m0=BZip2", files=["readme.txt"])
archives.pop()
archives.pop()
