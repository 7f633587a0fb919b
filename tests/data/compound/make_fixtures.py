#!/usr/bin/python3
"""Writes the compound-file fixtures of this folder.

The files are made by this small, independent writer (not by the engine under test): files as
other programs write them (a degenerate sibling chain as Wine's ole32 leaves it, property sets
with types our writer never uses, an ANSI code page, a second section) and damaged files, each
damaged in one way. Run it again after changing it:  /usr/bin/python3 make_fixtures.py
"""
import os
import struct
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
SECTOR = 512
ENDOFCHAIN, FREESECT, FATSECT, NOSTREAM = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD, 0xFFFFFFFF

FMTID_SUMMARY = uuid.UUID("F29F85E0-4FF9-1068-AB91-08002B27B3D9")
FMTID_DOCSUMMARY = uuid.UUID("D5CDD502-2E9C-101B-9397-08002B2CF9AE")
FMTID_USERDEFINED = uuid.UUID("D5CDD505-2E9C-101B-9397-08002B2CF9AE")

VT_EMPTY, VT_I2, VT_I4, VT_R8, VT_BOOL, VT_UI1, VT_UI4 = 0, 2, 3, 5, 11, 17, 19
VT_I8, VT_UI8, VT_LPSTR, VT_LPWSTR, VT_FILETIME, VT_BLOB, VT_CLSID = 20, 21, 30, 31, 64, 65, 72
VT_VECTOR = 0x1000


def upper_key(name):
    return (len(name), name.upper())


def pad4(b):
    return b + b"\0" * (-len(b) % 4)


# Property sets ------------------------------------------------------------------------------

def value(vt, data):
    return pad4(struct.pack("<HH", vt, 0) + data)


def lpwstr(s):
    units = s.encode("utf-16-le") + b"\0\0"
    return value(VT_LPWSTR, struct.pack("<I", len(units) // 2) + units)


def dictionary_unicode(names):
    out = struct.pack("<I", len(names))
    for pid, name in names:
        units = name.encode("utf-16-le") + b"\0\0"
        out += pad4(struct.pack("<II", pid, len(units) // 2) + units)
    return out


def dictionary_unicode_wine(names):
    """As Wine's ole32 writes it: four bytes of padding after a name whose length (null
    included) is even, where none belong."""
    out = struct.pack("<I", len(names))
    for pid, name in names:
        units = name.encode("utf-16-le") + b"\0\0"
        entry = struct.pack("<II", pid, len(units) // 2) + units
        out += entry + (b"\0" * 4 if len(units) // 2 % 2 == 0 else b"\0" * (-len(entry) % 4))
    return out


def dictionary_ansi(names, codec):
    out = struct.pack("<I", len(names))
    for pid, name in names:
        raw = name.encode(codec) + b"\0"
        out += struct.pack("<II", pid, len(raw)) + raw
    return pad4(out)


def section(props):
    """props: list of (id, encoded bytes); values are laid out in reverse order of the table,
    as ole32 keeps no fixed order."""
    table = b""
    body = b""
    offset = 8 + 8 * len(props)
    layout = {}
    for pid, data in reversed(props):
        layout[pid] = offset + len(body)
        body += data
    for pid, _ in props:
        table += struct.pack("<II", pid, layout[pid])
    return struct.pack("<II", 8 + len(table) + len(body), len(props)) + table + body


def property_set(sections, clsid=uuid.UUID(int=0)):
    header = struct.pack("<HHI", 0xFFFE, 0, 0x00020006) + clsid.bytes_le + struct.pack("<I", len(sections))
    offset = 28 + 20 * len(sections)
    table = b""
    body = b""
    for fmtid, data in sections:
        table += fmtid.bytes_le + struct.pack("<I", offset + len(body))
        body += data
    return header + table + body


# Compound files -----------------------------------------------------------------------------

class Entry:
    def __init__(self, name, kind, data=b"", children=None):
        self.name, self.kind, self.data = name, kind, data
        self.children = children or []


def compound(root_children, chain=False, dir_mutate=None, header_mutate=None, extra_sectors=0):
    """A version-3 file. Siblings form a balanced tree, or with chain=True a chain to the right
    (what inserting in order without rebalancing gives)."""
    entries = [Entry("Root Entry", 5, children=root_children)]
    links = {}
    i = 0
    while i < len(entries):
        e = entries[i]
        kids = sorted(e.children, key=lambda c: upper_key(c.name))
        first = len(entries)
        entries.extend(kids)
        ids = list(range(first, first + len(kids)))

        def build(lo, hi):
            if lo >= hi:
                return NOSTREAM
            if chain:
                for k in range(lo, hi):
                    links[ids[k]] = (NOSTREAM, ids[k + 1] if k + 1 < hi else NOSTREAM)
                return ids[lo]
            mid = (lo + hi) // 2
            links[ids[mid]] = (build(lo, mid), build(mid + 1, hi))
            return ids[mid]

        e.child = build(0, len(kids))
        i += 1
    links[0] = (NOSTREAM, NOSTREAM)

    sectors = []
    fat = {}

    def chain_sectors(data):
        if not data:
            return ENDOFCHAIN
        start = len(sectors)
        n = (len(data) + SECTOR - 1) // SECTOR
        for k in range(n):
            sectors.append(data[k * SECTOR:(k + 1) * SECTOR].ljust(SECTOR, b"\0"))
            fat[start + k] = start + k + 1 if k + 1 < n else ENDOFCHAIN
        return start

    mini = b""
    minifat = []
    for e in entries[1:]:
        e.start, e.size = 0, 0
        if e.kind != 2:
            continue
        e.size = len(e.data)
        if e.size == 0:
            e.start = ENDOFCHAIN
        elif e.size < 4096:
            e.start = len(mini) // 64
            n = (e.size + 63) // 64
            mini += e.data.ljust(n * 64, b"\0")
            minifat += [e.start + k + 1 if k + 1 < n else ENDOFCHAIN for k in range(n)]
        else:
            e.start = chain_sectors(e.data)
    entries[0].start = chain_sectors(mini) if mini else ENDOFCHAIN
    entries[0].size = len(mini)
    minifat_start = chain_sectors(b"".join(struct.pack("<I", v) for v in minifat)) if minifat else ENDOFCHAIN
    minifat_count = (len(minifat) * 4 + SECTOR - 1) // SECTOR

    directory = b""
    for idx, e in enumerate(entries):
        name = e.name.encode("utf-16-le") + b"\0\0"
        left, right = links[idx]
        raw = name.ljust(64, b"\0") + struct.pack("<HBB", len(name), e.kind, 1)
        raw += struct.pack("<III", left, right, e.child if e.kind != 2 else NOSTREAM)
        raw += b"\0" * 16 + struct.pack("<IQQIQ", 0, 0, 0, e.start, e.size)
        directory += raw
    while len(directory) % SECTOR:
        directory += b"\0" * 68 + struct.pack("<III", NOSTREAM, NOSTREAM, NOSTREAM) + b"\0" * 48
    dir_start = len(sectors)
    if dir_mutate:
        directory = dir_mutate(bytearray(directory))
    chain_sectors(bytes(directory))
    for _ in range(extra_sectors):
        sectors.append(b"\0" * SECTOR)
    # The FAT goes last, describing itself too.
    fat_count = 1
    while fat_count * 128 < len(sectors) + fat_count:
        fat_count += 1
    assert fat_count <= 109, "this writer makes no DIFAT sectors"
    fat_start = len(sectors)
    for k in range(fat_count):
        fat[fat_start + k] = FATSECT
    table = b"".join(struct.pack("<I", fat.get(k, FREESECT)) for k in range(fat_count * 128))
    for k in range(fat_count):
        sectors.append(table[k * SECTOR:(k + 1) * SECTOR])

    header = bytearray(SECTOR)
    header[0:8] = b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"
    struct.pack_into("<HHHHH", header, 0x18, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<IIIIIIIII", header, 0x28, 0, fat_count, dir_start, 0, 4096, minifat_start,
                     minifat_count, ENDOFCHAIN, 0)
    for k in range(109):
        struct.pack_into("<I", header, 0x4C + 4 * k, fat_start + k if k < fat_count else FREESECT)
    if header_mutate:
        header_mutate(header)
    return bytes(header) + b"".join(sectors)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# The files ---------------------------------------------------------------------------------

def summary_set():
    return property_set([(FMTID_SUMMARY, section([
        (1, value(VT_I2, struct.pack("<h", 1200))),
        (2, lpwstr("Title")),
    ]))])


def base_tree():
    return [Entry("\x05SummaryInformation", 2, summary_set()),
            Entry("CPU", 1, children=[Entry("Cache", 1)])]


def foreign_types():
    """Types our writer never uses, an ANSI set, a locale, a second section."""
    doc = section([
        (1, value(VT_I2, struct.pack("<h", 1200))),
        (0x80000000, value(VT_UI4, struct.pack("<I", 0x0409))),
        (0, dictionary_unicode([(2, "Short"), (3, "Long"), (4, "Unsigned"), (5, "Flag"), (6, "Bytes"),
                                (7, "Big"), (8, "Nothing"), (9, "Ansi"), (10, "Class"), (11, "Vector"),
                                (12, "Byte"), (13, "Real")])),
        (2, value(VT_I2, struct.pack("<h", -1234))),
        (3, value(VT_I4, struct.pack("<i", -123456789))),
        (4, value(VT_UI4, struct.pack("<I", 4000000000))),
        (5, value(VT_BOOL, struct.pack("<H", 0xFFFF))),
        (6, value(VT_BLOB, struct.pack("<I", 5) + b"\x01\x02\x03\x04\x05")),
        (7, value(VT_UI8, struct.pack("<Q", 18000000000000000000))),
        (8, value(VT_EMPTY, b"")),
        (9, value(VT_LPSTR, struct.pack("<I", 12) + "Ansi".encode("utf-16-le") + b"\0\0\0\0")),
        (10, value(VT_CLSID, uuid.UUID("01234567-89AB-CDEF-0123-456789ABCDEF").bytes_le)),
        (11, value(VT_VECTOR | VT_I4, struct.pack("<Iiii", 3, 7, 8, 9))),
        (12, value(VT_UI1, b"\xfe")),
        (13, value(VT_R8, struct.pack("<d", 2.5))),
    ])
    user = section([
        (1, value(VT_I2, struct.pack("<h", 1200))),
        (0, dictionary_unicode([(2, "Custom")])),
        (2, lpwstr("kept as it is")),
    ])
    docset = property_set([(FMTID_DOCSUMMARY, doc), (FMTID_USERDEFINED, user)])
    ansi = section([
        (1, value(VT_I2, struct.pack("<h", 1252))),
        (0, dictionary_ansi([(2, "Größe"), (3, "Name")], "cp1252")),
        (2, value(VT_I4, struct.pack("<i", 42))),
        (3, value(VT_LPSTR, struct.pack("<I", 7) + "Café€".encode("cp1252") + b"\0")),
    ])
    ansiset = property_set([(FMTID_SUMMARY, ansi)])
    return compound([Entry("\x05DocumentSummaryInformation", 2, docset),
                     Entry("Ansi", 1, children=[Entry("\x05SummaryInformation", 2, ansiset)])])


def deep_chain():
    """1000 storages whose sibling tree is one chain, each holding a small set."""
    kids = [Entry("Item%d" % i, 1, children=[Entry("\x05DocumentSummaryInformation", 2, property_set(
        [(FMTID_DOCSUMMARY, section([(1, value(VT_I2, struct.pack("<h", 1200))),
                                     (0, dictionary_unicode([(2, "Index")])),
                                     (2, value(VT_I8, struct.pack("<q", i)))]))]))]) for i in range(1000)]
    return compound([Entry("Devices", 1, children=kids)], chain=True)


def main():
    base = compound(base_tree())
    write("valid-small.cfb", base)
    write("foreign-types.cfb", foreign_types())
    write("deep-chain.cfb", deep_chain())
    wine = property_set([(FMTID_SUMMARY, section([
        (1, value(VT_I2, struct.pack("<h", 1200))),
        (0, dictionary_unicode_wine([(2, "VPC"), (3, "OS.LoggedUser"), (4, "Even"), (5, "VMWare")])),
        (2, value(VT_I8, struct.pack("<q", 1))),
        (3, lpwstr("user")),
        (4, value(VT_I8, struct.pack("<q", 4))),
        (5, value(VT_I8, struct.pack("<q", 0))),
    ]))])
    write("wine-dictionary-padding.cfb", compound([Entry("\x05SummaryInformation", 2, wine)]))

    write("not-compound.txt", b"This is a plain text file, not a compound file.\n")
    write("empty.cfb", b"")
    write("short-header.cfb", base[:100])
    write("truncated.cfb", base[:SECTOR * 2])

    def set_header(fmt, offset, *values):
        def mutate(h):
            struct.pack_into(fmt, h, offset, *values)
        return mutate

    write("bad-byte-order.cfb", compound(base_tree(), header_mutate=set_header("<H", 0x1C, 0xFEFF)))
    write("bad-sector-shift.cfb", compound(base_tree(), header_mutate=set_header("<H", 0x1E, 12)))
    write("absurd-fat-count.cfb", compound(base_tree(), header_mutate=set_header("<I", 0x2C, 0x7FFFFFFF)))
    write("sector-outside-file.cfb", compound(base_tree(), header_mutate=set_header("<I", 0x30, 5000)))

    # The directory's FAT entry naming its own sector: a chain that never ends.
    looped = bytearray(compound(base_tree()))
    dir_start = struct.unpack_from("<I", looped, 0x30)[0]
    fat_sector = struct.unpack_from("<I", looped, 0x4C)[0]
    struct.pack_into("<I", looped, SECTOR * (fat_sector + 1) + 4 * dir_start, dir_start)
    write("fat-loop.cfb", bytes(looped))

    # DIFAT: 300 FAT sectors claimed, the DIFAT sector's next pointer naming itself.
    def difat_loop(h):
        struct.pack_into("<I", h, 0x2C, 300)
        for k in range(109):
            struct.pack_into("<I", h, 0x4C + 4 * k, 0)
        struct.pack_into("<II", h, 0x44, 10, 3)
    difat = bytearray(compound(base_tree(), header_mutate=difat_loop, extra_sectors=20))
    difat += b"\0" * (SECTOR * 300)
    sector10 = SECTOR * 11
    struct.pack_into("<I", difat, sector10 + 4 * 127, 10)
    write("difat-loop.cfb", bytes(difat))

    def dir_cycle(d):
        # The root's first child names itself as its left sibling.
        child = struct.unpack_from("<I", d, 76)[0]
        struct.pack_into("<I", d, child * 128 + 68, child)
        return d
    write("directory-cycle.cfb", compound(base_tree(), dir_mutate=dir_cycle))

    def huge_stream(d):
        for k in range(len(d) // 128):
            if d[k * 128 + 66] == 2:
                struct.pack_into("<I", d, k * 128 + 120, 0xFFFFFFF0)
        return d
    write("absurd-stream-size.cfb", compound(base_tree(), dir_mutate=huge_stream))

    def mini_outside(d):
        for k in range(len(d) // 128):
            if d[k * 128 + 66] == 2:
                struct.pack_into("<I", d, k * 128 + 116, 1000)
        return d
    write("mini-sector-outside.cfb", compound(base_tree(), dir_mutate=mini_outside))

    write("duplicate-names.cfb", compound([Entry("Cache", 1), Entry("CACHE", 1)]))

    # Property sets damaged inside a sound container.
    def with_set(data):
        return compound([Entry("\x05SummaryInformation", 2, data)])

    good = bytearray(summary_set())
    bad = bytearray(good)
    struct.pack_into("<H", bad, 0, 0xFEFF)
    write("propset-bad-header.cfb", with_set(bytes(bad)))
    bad = bytearray(good)
    struct.pack_into("<I", bad, 24, 1000000)
    write("propset-section-count.cfb", with_set(bytes(bad)))
    bad = bytearray(good)
    struct.pack_into("<I", bad, 48 + 12, 0x7FFF0000)  # offset of the first property
    write("propset-offset-outside.cfb", with_set(bytes(bad)))
    bad = bytearray(good)
    struct.pack_into("<I", bad, 48 + 4, 0x10000000)  # property count
    write("propset-absurd-count.cfb", with_set(bytes(bad)))
    dict_set = bytearray(property_set([(FMTID_SUMMARY, section([
        (1, value(VT_I2, struct.pack("<h", 1200))),
        (0, dictionary_unicode([(2, "Name")])),
        (2, lpwstr("value")),
    ]))]))
    # The dictionary follows the string in the layout: find its entry and give it a huge length.
    dict_offset = 48 + struct.unpack_from("<I", dict_set, 48 + 8 + 8 + 4)[0]
    struct.pack_into("<I", dict_set, dict_offset + 8, 0x40000000)
    write("propset-bad-dictionary.cfb", with_set(bytes(dict_set)))
    # A thousand ids sharing one large string: read naively, a thousand copies of it.
    count = 1000
    codepage, text = value(VT_I2, struct.pack("<h", 1200)), lpwstr("x" * 4000)
    table = struct.pack("<II", 1, 8 + 8 * count)
    table += b"".join(struct.pack("<II", 2 + k, 8 + 8 * count + len(codepage)) for k in range(count - 1))
    body = codepage + text
    shared = struct.pack("<II", 8 + len(table) + len(body), count) + table + body
    write("propset-shared-values.cfb", with_set(property_set([(FMTID_SUMMARY, shared)])))
    str_set = bytearray(good)
    title_offset = 48 + struct.unpack_from("<I", str_set, 48 + 8 + 8 + 4)[0]
    struct.pack_into("<I", str_set, title_offset + 4, 0x7FFFFFFF)
    write("propset-string-overrun.cfb", with_set(bytes(str_set)))


if __name__ == "__main__":
    main()
