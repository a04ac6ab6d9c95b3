#!/usr/bin/env python3
"""Writes the hand-made corpus of damaged and unsupported 7z archives into
corpus/ (committed; rerun only to change it). README.md there states what
each file must produce."""
import binascii
import os
import struct

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
os.makedirs(here, exist_ok=True)


def num(n):
    for i in range(8):
        if n < (1 << (8 * i + 7 - i)):
            first = ((0xFF00 >> i) & 0xFF) | (n >> (8 * i))
            return bytes([first]) + (n & ((1 << (8 * i)) - 1)).to_bytes(i, "little")
    return b"\xff" + n.to_bytes(8, "little")


def crc(b):
    return struct.pack("<I", binascii.crc32(b))


def coder(method, props=b"", streams=None):
    flags = len(method) | (0x20 if props else 0) | (0x10 if streams else 0)
    out = bytes([flags]) + method
    if streams:
        out += num(streams[0]) + num(streams[1])
    if props:
        out += num(len(props)) + props
    return out


def folder(coders, bind_pairs=(), packed=None):
    out = num(len(coders)) + b"".join(coders)
    for i, o in bind_pairs:
        out += num(i) + num(o)
    if packed:
        out += b"".join(num(p) for p in packed)
    return out


def names(*ns):
    data = b"\x00" + b"".join(n.encode("utf-16-le") + b"\x00\x00" for n in ns)
    return b"\x11" + num(len(data)) + data


def header(pack_sizes, folders, unpack_sizes, folder_crcs=None, substreams=b"", files=b"", pack_pos=0):
    h = b"\x01\x04"
    h += b"\x06" + num(pack_pos) + num(len(pack_sizes)) + b"\x09" + b"".join(num(s) for s in pack_sizes) + b"\x00"
    h += b"\x07\x0b" + num(len(folders)) + b"\x00" + b"".join(folders)
    h += b"\x0c" + b"".join(num(s) for sizes in unpack_sizes for s in sizes)
    if folder_crcs is not None:
        h += b"\x0a\x01" + b"".join(struct.pack("<I", c) for c in folder_crcs)
    h += b"\x00"
    h += substreams + b"\x00"
    h += files + b"\x00"
    return h


def archive(packed, hdr, version=4, next_crc=None, start_crc=None):
    nxt = struct.pack("<QQ", len(packed), len(hdr)) + (next_crc or crc(hdr))
    return b"7z\xbc\xaf\x27\x1c\x00" + bytes([version]) + (start_crc or crc(nxt)) + nxt + packed + hdr


def files_info(n, extra=b""):
    return b"\x05" + num(n) + extra + b"\x00"


def write(name, data):
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)


COPY = b"\x00"
LZMA = b"\x03\x01\x01"
LZMA2 = b"\x21"
AES = b"\x06\xf1\x07\x01"
content = b"hello, corpus\n"
one_copy = lambda data=content, crc32=None, **kw: header(  # noqa: E731
    [len(data)], [folder([coder(COPY)])], [[len(data)]],
    folder_crcs=[binascii.crc32(content) if crc32 is None else crc32], files=files_info(1, names("hello.txt")), **kw)

write("good-copy.7z", archive(content, one_copy()))
write("good-empty-archive.7z", b"7z\xbc\xaf\x27\x1c\x00\x04" + crc(bytes(20)) + bytes(20))
good = archive(content, one_copy())
bad = bytearray(good)
bad[8] ^= 1
write("bad-start-header-crc.7z", bytes(bad))
write("bad-next-header-crc.7z", archive(content, one_copy(), next_crc=b"\0\0\0\0"))
write("bad-truncated-data.7z", good[:32 + 5])
write("bad-truncated-header.7z", good[:-3])
write("bad-data-crc.7z", archive(b"hello, CORPUS\n", header(
    [len(content)], [folder([coder(COPY)])], [[len(content)]],
    substreams=b"\x08\x0a\x01" + crc(content) + b"\x00", files=files_info(1, names("hello.txt")))))
write("bad-garbage.bin", bytes((i * 7919 + 13) % 251 for i in range(3000)))
write("bad-pack-beyond-end.7z", archive(content, one_copy(pack_pos=1 << 40)))
write("bad-huge-file-count.7z", archive(content, header([len(content)], [folder([coder(COPY)])], [[len(content)]],
                                                          files=files_info(1 << 60))))
write("bad-substream-sizes.7z", archive(content, header(
    [len(content)], [folder([coder(COPY)])], [[len(content)]],
    substreams=b"\x08\x0d" + num(2) + b"\x09" + num(1000) + b"\x00", files=files_info(2, names("a", "b")))))
# A two-input coder whose first input comes from a coder that feeds itself.
write("bad-bind-cycle.7z", archive(content * 2, header(
    [len(content), len(content)],
    [folder([coder(COPY, streams=(2, 1)), coder(COPY), coder(COPY)], bind_pairs=[(0, 1), (2, 1)], packed=[1, 3])],
    [[14, 14, 14]], files=files_info(1, names("x")))))
write("bad-lzma-first-byte.7z", archive(b"\x01" + bytes(20), header(
    [21], [folder([coder(LZMA, b"\x5d\x00\x00\x01\x00")])], [[100]], files=files_info(1, names("x")))))
write("bad-lzma2-no-dictionary-reset.7z", archive(b"\x02\x00\x03abcd\x00", header(
    [8], [folder([coder(LZMA2, b"\x10")])], [[4]], files=files_info(1, names("x")))))
write("bad-absurd-dictionary.7z", archive(b"\x00" * 64, header(
    [64], [folder([coder(LZMA, b"\x5d\xff\xff\xff\xff")])], [[1 << 40]], files=files_info(1, names("x")))))
write("unsupported-ppmd.7z", archive(b"\x00" * 16, header(
    [16], [folder([coder(b"\x03\x04\x01", b"\x06\x00\x00\x10\x00")])], [[5]], files=files_info(1, names("x")))))
write("unsupported-version.7z", archive(content, one_copy(), version=4)[:6] + b"\x01\x04" +
      archive(content, one_copy())[8:])
write("unsupported-aes-cycles.7z", archive(b"\x00" * 16, header(
    [16], [folder([coder(AES, bytes([0x1E]))])], [[16]], files=files_info(1, names("x")))))
write("bad-unsafe-names.7z", archive(content * 6, header(
    [len(content) * 6], [folder([coder(COPY)])], [[len(content) * 6]],
    substreams=b"\x08\x0d" + num(6) + b"\x09" + num(14) * 5 + b"\x00",
    files=files_info(6, names("../evil.txt", "C:\\evil.txt", "/abs.txt", "CON", "a/../../x.txt", "ok.txt")))))

# Attributes and times: a hidden file, a read-only hidden file, a hidden folder.
T0, T1, T2 = 132000000000000000, 132000000012345670, 131000000000000000
write("good-attributes.7z", archive(b"hidden\n" + b"read-only\n", header(
    [17], [folder([coder(COPY)])], [[17]],
    substreams=b"\x08\x0d" + num(2) + b"\x09" + num(7) + b"\x0a\x01" + crc(b"hidden\n") + crc(b"read-only\n") + b"\x00",
    files=files_info(3, b"\x0e" + num(1) + b"\x20" + b"\x0f" + num(1) + b"\x00" +
                     names("hidden.txt", "ro-hidden.txt", "hdir") +
                     b"\x14" + num(2 + 24) + b"\x01\x00" + struct.pack("<QQQ", T0, T1, T2) +
                     b"\x15" + num(2 + 12) + b"\x01\x00" + struct.pack("<III", 0x22, 0x23, 0x12)))))
