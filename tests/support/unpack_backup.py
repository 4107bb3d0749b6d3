#!/usr/bin/env python3
"""Unpacks a backup file with Python's zipfile alone, as a reader that shares
nothing with the engine: the outer zip, then DATABASE.vtb and every box
archive in DATA.zip after complementing their 8 changed bytes. Entry names
use backslashes; they become folders here.

usage: unpack_backup.py BACKUP OUTDIR
prints one line per archive it opened, with the compression methods seen."""
import io
import os
import sys
import zipfile


def extract(zf, out):
    methods = set()
    for info in zf.infolist():
        name = info.filename.replace('\\', '/')
        methods.add(info.compress_type)
        path = os.path.normpath(os.path.join(out, name))
        if not path.startswith(os.path.abspath(out)):
            raise SystemExit('entry outside the target: ' + info.filename)
        if name.endswith('/'):
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(zf.read(info))
    if zf.testzip() is not None:
        raise SystemExit('bad CRC in archive')
    return methods


def unchange(data):
    b = bytearray(data)
    for i in range(len(b) - 16, len(b) - 8):
        b[i] ^= 0xFF
    return bytes(b)


def main():
    backup, out = sys.argv[1], os.path.abspath(sys.argv[2])
    with zipfile.ZipFile(backup) as z:
        print('outer', sorted(extract(z, out)), sorted(i.filename for i in z.infolist()))
    box = os.path.join(out, 'BOX')
    vtb = os.path.join(box, 'DATABASE.vtb')
    with open(vtb, 'rb') as f:
        data = f.read()
    with zipfile.ZipFile(io.BytesIO(unchange(data))) as z:
        print('DATABASE.vtb', sorted(extract(z, box)))
    os.remove(vtb)
    datazip = os.path.join(box, 'DATA.zip')
    with zipfile.ZipFile(datazip) as z:
        print('DATA.zip', sorted(extract(z, box)))
    os.remove(datazip)
    data_dir = os.path.join(box, 'DATA')
    for name in sorted(os.listdir(data_dir)):
        if name.lower().endswith('.vtb'):
            path = os.path.join(data_dir, name)
            with open(path, 'rb') as f:
                data = f.read()
            with zipfile.ZipFile(io.BytesIO(unchange(data))) as z:
                print(name, sorted(extract(z, data_dir)))
            os.remove(path)


if __name__ == '__main__':
    main()
