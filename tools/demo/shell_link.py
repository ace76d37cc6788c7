"""Reads the fields of a Windows shell link (.lnk) file that the demo reports.

Only what a link written by IShellLinkW + IPersistFile::Save holds is read: the target from the
link-info block (local base path and common suffix) and the string data (description, relative
path, working folder, arguments, icon location).
"""

import dataclasses
import struct

HEADER_SIZE = 0x4C
LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")

HAS_ID_LIST = 0x01
HAS_LINK_INFO = 0x02
HAS_NAME = 0x04
HAS_RELATIVE_PATH = 0x08
HAS_WORKING_DIR = 0x10
HAS_ARGUMENTS = 0x20
HAS_ICON_LOCATION = 0x40
IS_UNICODE = 0x80

VOLUME_ID_AND_LOCAL_BASE_PATH = 0x01


class ShellLinkError(ValueError):
    pass


@dataclasses.dataclass
class ShellLink:
    target: str = ""
    description: str = ""
    relative_path: str = ""
    working_dir: str = ""
    arguments: str = ""
    icon_location: str = ""
    icon_index: int = 0


def _c_string(data, offset, wide):
    if wide:
        end = offset
        while end + 1 < len(data) and data[end:end + 2] != b"\0\0":
            end += 2
        return data[offset:end].decode("utf-16-le", errors="replace")
    end = data.find(b"\0", offset)
    if end < 0:
        raise ShellLinkError("unterminated string in the link-info block")
    return data[offset:end].decode("cp1252", errors="replace")


def _link_info_target(info):
    if len(info) < 0x1C:
        raise ShellLinkError("link-info block too short")
    header_size, flags = struct.unpack_from("<II", info, 4)
    local_base, _, suffix = struct.unpack_from("<III", info, 16)
    if not flags & VOLUME_ID_AND_LOCAL_BASE_PATH:
        return ""
    if header_size >= 0x24:
        local_base_wide, suffix_wide = struct.unpack_from("<II", info, 0x1C)
        if local_base_wide:
            return _c_string(info, local_base_wide, True) + (
                _c_string(info, suffix_wide, True) if suffix_wide else "")
    return _c_string(info, local_base, False) + (_c_string(info, suffix, False) if suffix else "")


def parse(data):
    """The ShellLink that the bytes of a .lnk file describe; ShellLinkError if they are none."""
    if len(data) < HEADER_SIZE or struct.unpack_from("<I", data, 0)[0] != HEADER_SIZE \
            or data[4:20] != LINK_CLSID:
        raise ShellLinkError("not a shell link (header)")
    flags = struct.unpack_from("<I", data, 0x14)[0]
    link = ShellLink(icon_index=struct.unpack_from("<i", data, 0x38)[0])
    offset = HEADER_SIZE
    try:
        if flags & HAS_ID_LIST:
            offset += 2 + struct.unpack_from("<H", data, offset)[0]
        if flags & HAS_LINK_INFO:
            size = struct.unpack_from("<I", data, offset)[0]
            link.target = _link_info_target(data[offset:offset + size])
            offset += size
        wide = bool(flags & IS_UNICODE)
        for flag, field in ((HAS_NAME, "description"), (HAS_RELATIVE_PATH, "relative_path"),
                            (HAS_WORKING_DIR, "working_dir"), (HAS_ARGUMENTS, "arguments"),
                            (HAS_ICON_LOCATION, "icon_location")):
            if not flags & flag:
                continue
            count = struct.unpack_from("<H", data, offset)[0]
            offset += 2
            length = count * 2 if wide else count
            if offset + length > len(data):
                raise ShellLinkError(f"{field} runs past the end of the file")
            raw = data[offset:offset + length]
            text = raw.decode("utf-16-le" if wide else "cp1252", errors="replace")
            # Wine counts the terminating zero as a character; the format itself has none.
            setattr(link, field, text.rstrip("\0"))
            offset += length
    except struct.error:
        raise ShellLinkError("the link ends early") from None
    return link


def read(path):
    with open(path, "rb") as link_file:
        return parse(link_file.read())
