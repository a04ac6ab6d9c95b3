"""Reads the fields of a shell link (.lnk) file, as the file format lays
them out, without asking Windows: an independent check of what the shell's
automation objects wrote."""
import struct

HAS_ID_LIST, HAS_LINK_INFO, HAS_NAME, HAS_RELATIVE_PATH = 0x1, 0x2, 0x4, 0x8
HAS_WORKING_DIR, HAS_ARGUMENTS, HAS_ICON_LOCATION, IS_UNICODE = 0x10, 0x20, 0x40, 0x80
LOCAL_PATH = 0x1  # LinkInfo flag: a volume and a local base path follow


def _ansi_at(data, offset, encoding):
    end = data.index(b"\0", offset)
    return data[offset:end].decode(encoding)


def _unicode_at(data, offset):
    end = offset
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[offset:end].decode("utf-16-le")


def read_link(path, ansi_encoding="gbk"):
    """A dict with target, description, relative_path, working_dir,
    arguments, icon_location (None when absent), icon_index and show."""
    with open(path, "rb") as f:
        data = f.read()
    header_size, = struct.unpack_from("<I", data, 0)
    if header_size != 0x4C:
        raise ValueError(f"{path}: not a shell link")
    flags, = struct.unpack_from("<I", data, 20)
    icon_index, show = struct.unpack_from("<iI", data, 56)
    pos = header_size
    if flags & HAS_ID_LIST:
        size, = struct.unpack_from("<H", data, pos)
        pos += 2 + size
    target = None
    if flags & HAS_LINK_INFO:
        info = data[pos:]
        info_size, info_header, info_flags = struct.unpack_from("<III", info, 0)
        if info_flags & LOCAL_PATH:
            base, = struct.unpack_from("<I", info, 16)
            suffix, = struct.unpack_from("<I", info, 24)
            if info_header >= 0x24:
                base_w, = struct.unpack_from("<I", info, 28)
                target = _unicode_at(info, base_w)
            else:
                target = _ansi_at(info, base, ansi_encoding) + _ansi_at(info, suffix, ansi_encoding)
        pos += info_size
    result = {"target": target, "icon_index": icon_index, "show": show}
    for flag, name in ((HAS_NAME, "description"), (HAS_RELATIVE_PATH, "relative_path"),
                       (HAS_WORKING_DIR, "working_dir"), (HAS_ARGUMENTS, "arguments"),
                       (HAS_ICON_LOCATION, "icon_location")):
        if not flags & flag:
            result[name] = None
            continue
        count, = struct.unpack_from("<H", data, pos)
        pos += 2
        if flags & IS_UNICODE:
            text = data[pos:pos + 2 * count].decode("utf-16-le")
            pos += 2 * count
        else:
            text = data[pos:pos + count].decode(ansi_encoding)
            pos += count
        # Some writers count the terminating zero too.
        result[name] = text.rstrip("\0")
    return result
