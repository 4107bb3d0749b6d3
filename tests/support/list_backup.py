#!/usr/bin/env python3
"""Lists every entry of a backup file, level by level, with Python's zipfile
alone: the outer zip, DATABASE.vtb and every box archive in DATA.zip (their
8 changed bytes complemented first).

usage: list_backup.py BACKUP
prints one line per entry, in the order of each archive's central directory:
  level|name|method|flags|attributes|made by|needs|size|crc|time
where time is the entry's DOS time as seconds since 1970 (local time), and
size and crc read "-" for the entries that differ from run to run by what
they are (the description's date, and the archives holding times)."""
import io
import sys
import time
import zipfile


def unchange(data):
    b = bytearray(data)
    for i in range(len(b) - 16, len(b) - 8):
        b[i] ^= 0xFF
    return bytes(b)


def walk(data, level, out):
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        if z.testzip() is not None:
            raise SystemExit('bad CRC in ' + level)
        for i in z.infolist():
            varies = i.filename.lower().endswith(('.vtb', '.zip', 'backup.xml'))
            stamp = int(time.mktime(i.date_time + (0, 0, -1)))
            out.append('|'.join(str(v) for v in (
                level, i.filename, i.compress_type, i.flag_bits, i.external_attr, i.create_system,
                i.extract_version, '-' if varies else i.file_size, '-' if varies else i.CRC, stamp)))
            if level in ('file', 'BOX\\DATA.zip') and i.filename.lower().endswith('.vtb'):
                walk(unchange(z.read(i)), i.filename, out)
            elif level == 'file' and i.filename.lower().endswith('.zip'):
                walk(z.read(i), i.filename, out)


def main():
    out = []
    with open(sys.argv[1], 'rb') as f:
        walk(f.read(), 'file', out)
    print('\n'.join(out))


main()
