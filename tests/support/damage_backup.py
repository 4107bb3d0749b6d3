#!/usr/bin/env python3
"""Writes a damaged copy of a backup file with Python's zipfile alone, to
check that a reader finds the damage.

usage: damage_backup.py BACKUP OUT HOW
HOW is one of:
  outer          flip 100 bytes inside the data of DATA.zip in the outer archive
  database       flip bytes inside the data of the first record in DATABASE.vtb
  box:N          flip bytes inside the data of a page file in box N's archive
  no-document:N  remove the first top-level document folder of box N (its record stays)
  count:N        make the description count one document more for box N
"""
import io
import re
import sys
import zipfile


def complement_end(data):
    b = bytearray(data)
    n = len(b)
    for i in range(n - 16, n - 8):
        b[i] = 255 - b[i]
    return bytes(b)


def flip_entry_data(archive, pick, count=64):
    """Flips bytes in the middle of the stored data of the first entry pick() accepts."""
    b = bytearray(archive)
    with zipfile.ZipFile(io.BytesIO(archive)) as z:
        for info in z.infolist():
            if not info.is_dir() and info.compress_size > 8 and pick(info.filename):
                off = info.header_offset
                name_len = int.from_bytes(b[off + 26:off + 28], 'little')
                extra_len = int.from_bytes(b[off + 28:off + 30], 'little')
                start = off + 30 + name_len + extra_len
                mid = start + info.compress_size // 4
                for i in range(mid, min(mid + count, start + info.compress_size)):
                    b[i] ^= 0x5A
                return bytes(b)
    raise SystemExit('no entry to damage')


def rezip(entries):
    out = io.BytesIO()
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            if data is None:
                z.writestr(zipfile.ZipInfo(name), b'')
            else:
                z.writestr(name, data)
    return out.getvalue()


def entries_of(archive):
    with zipfile.ZipFile(io.BytesIO(archive)) as z:
        return [(i.filename, None if i.is_dir() else z.read(i)) for i in z.infolist()]


def main():
    src, dst, how = sys.argv[1:4]
    raw = open(src, 'rb').read()
    if how == 'outer':
        open(dst, 'wb').write(flip_entry_data(raw, lambda n: n.replace('\\', '/').endswith('DATA.zip'), 100))
        return
    outer = entries_of(raw)
    kind, _, box = how.partition(':')
    vtb = 'B%07d.vtb' % int(box) if box else None
    result = []
    for name, data in outer:
        norm = name.replace('\\', '/')
        if kind == 'database' and norm.endswith('DATABASE.vtb'):
            inner = complement_end(data)
            data = complement_end(flip_entry_data(inner, lambda n: n.endswith('.XML'), 16))
        elif kind in ('box', 'no-document') and norm.endswith('DATA.zip'):
            boxes = []
            for bname, bdata in entries_of(data):
                if bdata is not None and bname.replace('\\', '/').endswith(vtb):
                    inner = complement_end(bdata)
                    if kind == 'box':
                        inner = flip_entry_data(inner, lambda n: 'PAGE' in n, 64)
                    else:
                        items = entries_of(inner)
                        docs = sorted({m.group(0) for n, _ in items
                                       for m in [re.search(r'^B\d{7}[\\/]P[^\\/]*[\\/]D\d{7}(?=[\\/])', n)] if m})
                        gone = docs[0]
                        items = [(n, d) for n, d in items if not n.startswith(gone + '\\') and not n.startswith(gone + '/')]
                        inner = rezip(items)
                    bdata = complement_end(inner)
                boxes.append((bname, bdata))
            data = rezip(boxes)
        elif kind == 'count' and norm.endswith('Backup.XML'):
            text = data.decode('utf-8')
            pattern = r'(<BoxNo>%d</BoxNo>.*?<NumOfDocs>)(\d+)' % int(box)
            text = re.sub(pattern, lambda m: m.group(1) + str(int(m.group(2)) + 1), text, count=1, flags=re.S)
            data = text.encode('utf-8')
        result.append((name, data))
    open(dst, 'wb').write(rezip(result))


main()
