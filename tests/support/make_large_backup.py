#!/usr/bin/env python3
"""Writes a whole backup file of many small documents, laid down the way the
crafted corpus is (tests/engine/restore/make_backup_corpus.py): BOXES boxes,
each of FOLDERS folders of 400 documents of one small page.

usage: make_large_backup.py OUT BOXES FOLDERS
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "engine", "restore"))
from make_backup_corpus import Backup, Entry, record  # noqa: E402

DOCS_PER_FOLDER = 400  # a level of the device holds no more
PAGE = bytes(range(64))


def box_entries(box, folders):
    b, p = "B%07d" % box, "B%07d\\P0000001" % box
    entries = [Entry(b + "\\"), Entry(p + "\\")]
    for f in range(1, folders + 1):
        level = p + "\\F%07d" % f
        entries += [Entry(level + ".XML", record("F%07d" % f, "Folder %d" % f)), Entry(level + "\\")]
        for d in range(1, DOCS_PER_FOLDER + 1):
            doc = level + "\\D%07d" % d
            entries += [Entry(doc + ".XML", record("D%07d" % d, "Scan %d-%d" % (f, d))), Entry(doc + "\\"),
                        Entry(doc + "\\PAGE0001.DAT", PAGE)]
    return entries


def main():
    out, boxes, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    backup = Backup(boxes=tuple(range(1, boxes + 1)))
    for n in backup.boxes:
        backup.boxes[n] = {"entries": box_entries(n, folders), "docs": folders * DOCS_PER_FOLDER,
                           "folders": folders, "used": folders * DOCS_PER_FOLDER}
    with open(out, "wb") as f:
        f.write(backup.bytes())


if __name__ == "__main__":
    main()
