#!/usr/bin/env python3
"""Writes an unpacked release of COUNT files of SIZE bytes each, random, in folders of 200:

    make-release.py FOLDER COUNT SIZE

FOLDER/d000/f00000.bin ... (the layout an expanded package has: many files, a few levels deep).
"""
import os
import sys


def main():
    folder, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    per_folder = 200
    for n in range(count):
        sub = os.path.join(folder, "d%03d" % (n // per_folder))
        if n % per_folder == 0:
            os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, "f%05d.bin" % n), "wb") as f:
            f.write(os.urandom(size))


if __name__ == "__main__":
    main()
