#!/usr/bin/env python3
"""Reads every value of a storage file with olefile: the property sets decoded, other streams
read whole. The peer of `kyvex show FILE --json` in bench/compare_peers.sh."""
import sys

import olefile


def main(path):
    values = 0
    with olefile.OleFileIO(path) as ole:
        for entry in ole.listdir(streams=True, storages=False):
            if entry[-1].startswith("\x05"):
                values += len(ole.getproperties(entry, convert_time=True))
            else:
                values += len(ole.openstream(entry).read()) > 0
    print(values)


if __name__ == "__main__":
    main(sys.argv[1])
