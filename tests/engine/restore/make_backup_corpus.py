#!/usr/bin/env python3
"""Writes backup_corpus/: a small whole backup file and variants of it, each
crafted in one way a reader might miss (names, duplicates, the known tree,
overlapping or outlying entries, what the entries unpack to, the
description's counts). The name of each file says what verify, the restore
and its dry run must all conclude: whole-* is restored, damaged-* is refused.

Run it again after changing a case; the files are committed.
usage: make_backup_corpus.py
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "backup_corpus")
DOS_TIME = 0x58210000  # 2024-01-01 00:00


def deflate(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


class Entry:
    """One entry; the fields after data let a case lie in the central record."""

    def __init__(self, name, data=None, deflated=True, usize=None, csize=None, crc=None, same_data_as=None):
        self.name, self.data = name, data
        self.deflated = deflated and data is not None
        self.usize, self.csize, self.crc, self.same_data_as = usize, csize, crc, same_data_as


def zip_bytes(entries):
    """A zip archive laid down byte by byte (names kept as given, "\\" too)."""
    out, central, offsets = bytearray(), bytearray(), {}
    for e in entries:
        name = e.name.encode("utf-8")
        data = e.data if e.data is not None else b""
        stored = deflate(data) if e.deflated else data
        method = 8 if e.deflated else 0
        crc = zlib.crc32(data) & 0xFFFFFFFF if e.crc is None else e.crc
        usize = len(data) if e.usize is None else e.usize
        if e.same_data_as is not None:
            offset, stored_len = offsets[e.same_data_as]
        else:
            offset, stored_len = len(out), len(stored)
            out += struct.pack("<IHHHIIIIHH", 0x04034B50, 20, 0, method, DOS_TIME, crc, len(stored), usize,
                               len(name), 0) + name + stored
            offsets[e.name] = (offset, stored_len)
        if e.csize is not None:
            stored_len = e.csize
        attrs = 0x10 if e.data is None else 0x20
        central += struct.pack("<IHHHHIIIIHHHHHII", 0x02014B50, 20, 20, 0, method, DOS_TIME, crc, stored_len, usize,
                               len(name), 0, 0, 0, 0, attrs, offset) + name
    count = len(entries)
    zip64 = b""
    if count > 0xFFFF:  # the end record's 16-bit counts hold no more: a zip64 end record holds them
        at = len(out) + len(central)
        zip64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, len(central), len(out))
        zip64 += struct.pack("<IIQI", 0x07064B50, 0, at, 1)
        count = 0xFFFF
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(central), len(out), 0)
    return bytes(out + central + zip64 + end)


def changed(archive):
    """The byte change of box archives: 8 bytes from 16 before the end complemented."""
    b = bytearray(archive)
    for i in range(len(b) - 16, len(b) - 8):
        b[i] ^= 0xFF
    return bytes(b)


def record(own, name):
    r = bytearray(512)
    r[0:8] = own.encode()
    n = name.encode("utf-16-le")[:128]  # 64 units fill the field: no terminator then
    r[9:9 + len(n)] = n
    struct.pack_into(">I", r, 148, 1700000000)
    return bytes(r)


def box_record(box):
    r = bytearray(1024)
    r[0:8] = ("B%07d" % box).encode()
    r[64:64 + 12] = "Crafted".encode("utf-16-le")
    return bytes(r)


def page(seed, size=600):
    return bytes((seed * 31 + i * 7) % 251 for i in range(size))


def box_entries(box):
    """A box as the device keeps it: a document at the top, a folder with one."""
    b, p = "B%07d" % box, "B%07d\\P0000001" % box
    return [Entry(b + "\\"), Entry(p + "\\"),
            Entry(p + "\\D0000001.XML", record("D0000001", "Report")), Entry(p + "\\D0000001\\"),
            Entry(p + "\\D0000001\\PAGE0001.DAT", page(box)),
            Entry(p + "\\F0000001.XML", record("F0000001", "Letters")), Entry(p + "\\F0000001\\"),
            Entry(p + "\\F0000001\\D0000002.XML", record("D0000002", "Invoice")), Entry(p + "\\F0000001\\D0000002\\"),
            Entry(p + "\\F0000001\\D0000002\\PAGE0001.DAT", page(box + 100))]


class Backup:
    def __init__(self, boxes=(1,)):
        self.boxes = {n: {"entries": box_entries(n), "docs": 2, "folders": 1, "used": 8} for n in boxes}
        self.listed = list(boxes)     # the description's boxes, in order
        self.records = ["DATABASE\\B%07d.XML" % n for n in boxes]
        self.data_folder = "DATA\\"
        self.data_extra = []          # more entries of DATA.zip
        self.outer_extra = []         # more entries of the backup file
        self.data_names = {}          # a box archive's name in DATA.zip
        self.padding = 0              # bytes of an XML comment in the description
        self.box_no_text = {}         # a box's BoxNo as the description writes it, when not its number

    def description(self):
        lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<BackupInfo>",
                 "<EngineVersion>%-40s</EngineVersion>" % "Korvo-B V1.3.0.0",
                 "<MACAddress>02:00:5E:10:20:30</MACAddress>", "<BackupDate>2024/01/01 00:00:00</BackupDate>",
                 "<Timezone>GMT+00:00</Timezone>", '<Boxes NumOfBoxes="%d">' % len(self.listed)]
        for n in self.listed:
            b = self.boxes[n]
            lines += ["<BoxProp>", "<BoxName>Box %d</BoxName>" % n, "<BoxNo>%s</BoxNo>" % self.box_no_text.get(n, n),
                      "<Protected>no</Protected>", "<NumOfFolders>%d</NumOfFolders>" % b["folders"],
                      "<NumOfDocs>%d</NumOfDocs>" % b["docs"], "<BoxUsedDisk>%d</BoxUsedDisk>" % b["used"],
                      "</BoxProp>"]
        lines += ["</Boxes>", "</BackupInfo>"]
        if self.padding:
            lines.insert(2, "<!--" + "." * self.padding + "-->")
        return "\r\n".join(lines).encode("utf-8")

    def bytes(self):
        database = changed(zip_bytes([Entry("DATABASE\\")] +
                                     [Entry(name, box_record(int(name[-11:-4]))) for name in self.records]))
        data = [Entry(self.data_folder)]
        for n in sorted(self.boxes):
            archive = changed(zip_bytes(self.boxes[n]["entries"]))
            data.append(Entry(self.data_names.get(n, self.data_folder + "B%07d.vtb" % n), archive, deflated=False))
        data_zip = zip_bytes(data + self.data_extra)
        return zip_bytes([Entry("BOX\\DATABASE.vtb", database, deflated=False),
                          Entry("BOX\\DATA.zip", data_zip, deflated=False),
                          Entry("BOX\\Backup.XML", self.description()), Entry("BOX\\")] + self.outer_extra)


def put(name, backup):
    with open(os.path.join(OUT, name + ".zip"), "wb") as f:
        f.write(backup.bytes() if isinstance(backup, Backup) else backup)


def added(*entries):
    """A backup whose box 1 holds the given entries as well."""
    backup = Backup()
    backup.boxes[1]["entries"] += entries
    return backup


def main():
    os.makedirs(OUT, exist_ok=True)
    for f in os.listdir(OUT):
        os.remove(os.path.join(OUT, f))
    P = "B0000001\\P0000001\\"

    put("whole-plain", Backup())
    put("whole-two-boxes", Backup((1, 2)))
    # A description of 16 KB (vtbox's tests fill the disk under it).
    long_description = Backup()
    long_description.padding = 16 << 10
    put("whole-long-description", long_description)
    # Forward slashes, as other zip writers store names.
    slashes = Backup()
    for e in slashes.boxes[1]["entries"]:
        e.name = e.name.replace("\\", "/")
    put("whole-forward-slashes", slashes)
    # DATA.zip's names in another case, as a system that ignores case writes them.
    case = Backup()
    case.data_folder = "data\\"
    case.data_names[1] = "data\\b0000001.VTB"
    put("whole-data-names-in-another-case", case)
    # Display names that must stay names wherever they are shown or used:
    # parts of paths, separators, control characters, a name that fills its
    # field, names given twice, an empty one.
    hostile = Backup()
    b, p = "B0000001", "B0000001\\P0000001"
    names = ["..", "../../etc/passwd", "a/b\\c", "\x1b]0;owned\x07\r\n", "\U0001F600" * 32, "Report", "Report",
             ".hidden", "", "CON"]
    entries = [Entry(b + "\\"), Entry(p + "\\")]
    for i, name in enumerate(names, 1):
        own = "D%07d" % i
        entries += [Entry(p + "\\%s.XML" % own, record(own, name)), Entry(p + "\\%s\\" % own),
                    Entry(p + "\\%s\\PAGE0001.DAT" % own, page(i))]
    entries += [Entry(p + "\\F0000001.XML", record("F0000001", "../..")), Entry(p + "\\F0000001\\"),
                Entry(p + "\\F0000001\\D0000001.XML", record("D0000001", "..")),
                Entry(p + "\\F0000001\\D0000001\\"),
                Entry(p + "\\F0000001\\D0000001\\PAGE0001.DAT", page(99))]
    hostile.boxes[1] = {"entries": entries, "docs": len(names) + 1, "folders": 1, "used": 16}
    put("whole-hostile-names", hostile)
    # Names that turn the text around them on a terminal (bidirectional
    # overrides and isolates, marks): shown escaped, never kept in a folder's name.
    bidi = Backup()
    bidi_names = ["\u202etxt.exe", "a\u2066b\u2069c", "\u200fReport\u200e", "\u061cx\u202ay\u202c"]
    entries = [Entry(b + "\\"), Entry(p + "\\")]
    for i, name in enumerate(bidi_names, 1):
        own = "D%07d" % i
        entries += [Entry(p + "\\%s.XML" % own, record(own, name)), Entry(p + "\\%s\\" % own),
                    Entry(p + "\\%s\\PAGE0001.DAT" % own, page(i))]
    bidi.boxes[1] = {"entries": entries, "docs": len(bidi_names), "folders": 0, "used": 8}
    put("whole-bidi-names", bidi)
    # A box number that only a reader that wraps takes for box 1.
    wrapped = Backup()
    wrapped.box_no_text[1] = "-4294967295"
    put("damaged-box-number-wraps", wrapped)

    # Page names the restore refuses: no extension, a blank.
    put("damaged-page-name", added(Entry(P + "D0000001\\notes", b"x")))
    put("damaged-page-name-blank", added(Entry(P + "D0000001\\PAGE 2.DAT", b"x")))
    # Entries outside the known tree of a box, of DATABASE.vtb, of DATA.zip, of the file.
    put("damaged-stray-file-at-level", added(Entry(P + "notes.txt", b"x")))
    put("damaged-folder-in-page-folder", added(Entry(P + "D0000001\\sub\\PAGE0002.DAT", b"x")))
    put("damaged-two-inner-folders", added(Entry("B0000001\\P0000002\\D0000009.XML", record("D0000009", "x"))))
    put("damaged-outside-box-folder", added(Entry("B0000002\\x.DAT", b"x")))
    put("damaged-deep-name", added(Entry(P + "\\".join(["a"] * 2000) + "\\PAGE0001.DAT", b"x")))
    # Damage in a box after the first: nothing of the first may go before it is found.
    later_deep = Backup((1, 2))
    later_deep.boxes[2]["entries"].append(
        Entry("B0000002\\P0000001\\" + "\\".join(["a"] * 2000) + "\\PAGE0001.DAT", b"x"))
    put("damaged-deep-name-in-second-box", later_deep)
    later_crc = Backup((1, 2))
    later_crc.boxes[2]["entries"].append(
        Entry("B0000002\\P0000001\\D0000001\\PAGE0002.DAT", page(9), crc=zlib.crc32(page(9)) ^ 1))
    put("damaged-page-crc-in-second-box", later_crc)
    missing = Backup()
    missing.records = []
    put("damaged-database-record-missing", missing)
    odd_record = Backup()
    odd_record.records = ["DATABASE\\B0000001.xml"]
    put("damaged-database-entry-name", odd_record)
    extra_box = Backup()
    extra_box.data_extra = [Entry("DATA\\B0000002.vtb", changed(zip_bytes(box_entries(2))), deflated=False)]
    put("damaged-undescribed-box-archive", extra_box)
    beside = Backup()
    beside.outer_extra = [Entry("BOX\\DATA\\B0000001\\P0000001\\D0000009.XML", record("D0000009", "Smuggled")),
                          Entry("BOX\\DATA\\B0000001\\P0000001\\D0000009\\PAGE0001.DAT", b"page")]
    put("damaged-documents-beside-data", beside)

    # Two entries of one name, at each level, and names that differ only in case.
    put("damaged-duplicate-page", added(Entry(P + "D0000001\\PAGE0001.DAT", b"the other one")))
    put("damaged-case-only-page", added(Entry(P + "D0000001\\page0001.dat", b"the other one")))
    twice = Backup()
    twice.data_extra = [Entry("DATA\\B0000001.vtb", changed(zip_bytes(box_entries(1))), deflated=False)]
    put("damaged-duplicate-box-archive", twice)
    merged = Backup()
    merged.data_extra = [Entry("DATA\\b0000001.VTB", changed(zip_bytes(box_entries(1))), deflated=False)]
    put("damaged-case-only-box-archive", merged)
    outer_twice = Backup()
    outer_twice.outer_extra = [Entry("BOX\\Backup.XML", outer_twice.description())]
    put("damaged-duplicate-description", outer_twice)

    # Many records, one stream (the small file that unpacked to a gigabyte);
    # data said to run past the entries; more than the description declares;
    # a stream that inflates beyond its entry's size; a CRC that does not match.
    put("damaged-overlapping-entries",
        added(Entry(P + "D0000001\\PAGE0002.DAT", same_data_as=P + "D0000001\\PAGE0001.DAT")))
    put("damaged-data-past-the-entries", added(Entry(P + "D0000001\\PAGE0002.DAT", page(7), csize=1 << 20)))
    bomb = added(Entry(P + "D0000001\\PAGE0002.DAT", bytes(5 << 20)))
    bomb.boxes[1]["used"] = 1
    put("damaged-beyond-declared-size", bomb)
    # Within what the description lets a box unpack to, though it says less:
    # whole, and measured by what it holds before the device's space is
    # trusted with it (the dry run as the restore).
    understated = added(Entry(P + "D0000001\\PAGE0002.DAT", bytes(3 << 20)))
    understated.boxes[1]["used"] = 1
    put("whole-understated-size", understated)
    put("damaged-inflates-beyond-its-size",
        added(Entry(P + "D0000001\\PAGE0002.DAT", bytes(4096), usize=16, crc=zlib.crc32(bytes(16)))))
    put("damaged-page-crc", added(Entry(P + "D0000001\\PAGE0002.DAT", page(9), crc=zlib.crc32(page(9)) ^ 1)))

    # The description against the box archives.
    counts = Backup()
    counts.boxes[1]["docs"] = 3
    put("damaged-document-count", counts)
    no_pages = Backup()
    no_pages.boxes[1]["entries"] = [e for e in no_pages.boxes[1]["entries"] if "D0000001\\" not in e.name]
    put("damaged-record-without-folder", no_pages)
    listed = Backup()
    listed.listed = [1, 1]
    put("damaged-box-listed-twice", listed)


if __name__ == "__main__":
    main()
