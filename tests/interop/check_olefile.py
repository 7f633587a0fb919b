#!/usr/bin/python3
"""Checks a compound file written by our engine with olefile: the tree, the stream names, the
dictionary of every property set and every value, against the model our engine wrote.

olefile reads the container and the common property types itself; it has no reader for the
dictionary, VT_I8 or VT_R8, which are taken here from the stream olefile returns.
usage: check_olefile.py FILE MODEL.json"""
import json
import struct
import sys

import olefile

VT_I2, VT_I4, VT_R8, VT_BOOL, VT_UI4, VT_I8, VT_LPWSTR, VT_FILETIME = 2, 3, 5, 11, 19, 20, 31, 64
KINDS = {"string": VT_LPWSTR, "i8": VT_I8, "r8": VT_R8, "filetime": VT_FILETIME, "i4": VT_I4, "bool": VT_BOOL,
         "i2": VT_I2, "ui4": VT_UI4}

failures = []


def fail(message):
    failures.append(message)


def parse_section(data):
    """Values by id as (type, value) and the dictionary as name -> id, from the raw stream."""
    offset = struct.unpack_from("<I", data, 44)[0]
    size, count = struct.unpack_from("<II", data, offset)
    if offset + size > len(data):
        fail("section runs past the end of its stream")
    values, names = {}, {}
    for i in range(count):
        pid, at = struct.unpack_from("<II", data, offset + 8 + 8 * i)
        at += offset
        if pid == 0:
            n = struct.unpack_from("<I", data, at)[0]
            p = at + 4
            for _ in range(n):
                nid, length = struct.unpack_from("<II", data, p)
                p += 8
                name = data[p:p + 2 * length].decode("utf-16-le")
                if not name.endswith("\0") or "\0" in name[:-1]:
                    fail("dictionary name %r is not one null-terminated string" % name)
                names[name[:-1]] = nid
                p += 2 * length
                p += -p % 4
            continue
        vt = struct.unpack_from("<H", data, at)[0]
        body = at + 4
        if vt == VT_LPWSTR:
            length = struct.unpack_from("<I", data, body)[0]
            value = data[body + 4:body + 4 + 2 * length].decode("utf-16-le")
            if length == 0 or not value.endswith("\0"):
                fail("string of property %d lacks its null" % pid)
            value = value[:-1]
        elif vt == VT_I8:
            value = struct.unpack_from("<q", data, body)[0]
        elif vt == VT_R8:
            value = struct.unpack_from("<d", data, body)[0]
        elif vt == VT_FILETIME:
            value = struct.unpack_from("<Q", data, body)[0]
        elif vt in (VT_I2, VT_BOOL):
            value = struct.unpack_from("<h", data, body)[0]
        elif vt == VT_I4:
            value = struct.unpack_from("<i", data, body)[0]
        elif vt == VT_UI4:
            value = struct.unpack_from("<I", data, body)[0]
        else:
            value = None
        values[pid] = (vt, value)
    return values, names


def main():
    path, model_path = sys.argv[1], sys.argv[2]
    with open(model_path, encoding="utf-8") as f:
        model = json.load(f)
    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)

    expected = set()
    for storage in model["storages"]:
        if storage["path"]:
            expected.add(tuple(storage["path"]))
        for s in storage["sets"]:
            expected.add(tuple(storage["path"] + [s["stream"]]))
    found = set(tuple(p) for p in ole.listdir(streams=True, storages=True))
    for p in sorted(expected - found):
        fail("missing element %r" % (p,))
    for p in sorted(found - expected):
        fail("unexpected element %r" % (p,))

    for storage in model["storages"]:
        for s in storage["sets"]:
            where = "/".join(storage["path"] + [s["stream"]])
            if ole.get_type(storage["path"] + [s["stream"]]) != olefile.STGTY_STREAM:
                fail("%s is not a stream" % where)
                continue
            data = ole.openstream(storage["path"] + [s["stream"]]).read()
            values, names = parse_section(data)
            # olefile's own reading of the types it knows.
            own = ole.getproperties(storage["path"] + [s["stream"]])
            if own.get(1) != 1200:
                fail("%s: code page %r instead of 1200" % (where, own.get(1)))
            wanted_names = set(v["name"] for v in s["values"] if v["name"])
            if set(names) != wanted_names:
                fail("%s: dictionary %s, expected %s" % (where, sorted(names), sorted(wanted_names)))
            for v in s["values"]:
                pid = names.get(v["name"]) if v["name"] else v["id"]
                label = "%s: %s" % (where, v["name"] or "id %d" % v["id"])
                if pid not in values:
                    fail(label + " is missing")
                    continue
                vt, value = values[pid]
                if vt != KINDS[v["kind"]]:
                    fail("%s has type %d, expected %s" % (label, vt, v["kind"]))
                    continue
                want = {"string": v["text"], "r8": v["real"]}.get(v["kind"], v["number"])
                if v["kind"] == "bool":
                    want = -1 if v["number"] else 0
                if value != want:
                    fail("%s is %r, expected %r" % (label, value if len(repr(value)) < 80 else "(long)",
                                                     want if len(repr(want)) < 80 else "(long)"))
                if vt == VT_LPWSTR and own.get(pid, "").rstrip("\0") != v["text"]:
                    fail(label + ": olefile's own reading differs")
                if vt == VT_FILETIME and own.get(pid) != v["number"] // 10000000:
                    fail(label + ": olefile's own reading of the time differs")
    ole.close()
    for f in failures:
        print("olefile check: " + f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
