#!/usr/bin/env python3
"""Makes a document archive with Python's zipfile alone, from one level of a
store (a box's inner folder, or a folder in it): "Archive.XML" and one
"D0000nnn.zip" per document, holding the record D0000nnn.XML and the page
folder D0000nnn, all under bare names.

usage: make_archive.py LEVEL OUT VERSION [MAC]"""
import io
import os
import sys
import zipfile


def document_zip(level, name):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, 'w', zipfile.ZIP_DEFLATED) as z:
        z.write(os.path.join(level, name + '.XML'), name + '.XML')
        z.writestr(name + '/', b'')
        folder = os.path.join(level, name)
        for page in sorted(os.listdir(folder)):
            z.write(os.path.join(folder, page), name + '/' + page)
    return buf.getvalue()


def main():
    level, out, version = sys.argv[1], sys.argv[2], sys.argv[3]
    mac = sys.argv[4] if len(sys.argv) > 4 else '02:00:5E:10:20:30'
    docs = sorted(n[:-4] for n in os.listdir(level) if n.startswith('D0000') and n.endswith('.XML'))
    description = ('<?xml version="1.0" encoding="UTF-8"?>\r\n<ArchiveInfo>\r\n'
                   '<Version>%s</Version>\r\n<MACAddress>%s</MACAddress>\r\n'
                   '<NumOfDocs>%d</NumOfDocs>\r\n<ArchiveDate>2026/12/08 10:20:30</ArchiveDate>\r\n'
                   '</ArchiveInfo>' % (version, mac, len(docs)))
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('Archive.XML', description)
        for d in docs:
            z.writestr(d + '.zip', document_zip(level, d))
    print(len(docs))


if __name__ == '__main__':
    main()
