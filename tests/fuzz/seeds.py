#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into corpus/<target>/seed-*.

Run it again after changing a seed; inputs that once found a fault are kept
beside the seeds as corpus/<target>/regress-* (see README.md) and are never
written here.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def reply(message):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<BoxNwLib>\n <Header><Version>Korvo-B V1.3.0.0</Version>'
            '</Header>\n <Message>\n  <Result>0</Result>\n' + message + ' </Message>\n</BoxNwLib>\n')


def xmlreply():
    put("xmlreply", "connect", reply("  <SessionInfo><WebSessionID>10000001</WebSessionID></SessionInfo>\n"))
    put("xmlreply", "boxlist", reply(
        '  <Boxes NumOfBoxes="2">\n'
        '   <BoxProp BoxNo="1"><BoxName>Box 1 &amp; &lt;Scans&gt; \u00fcber</BoxName>'
        '<LastUpdateDate>1700086400</LastUpdateDate><Protected>0</Protected></BoxProp>\n'
        '   <BoxProp BoxNo="2"><BoxName>B</BoxName><LastUpdateDate>-5</LastUpdateDate>'
        '<Protected>1</Protected></BoxProp>\n  </Boxes>\n'))
    put("xmlreply", "property", reply(
        '  <BoxProp BoxNo="2"><BoxName>N</BoxName><BoxOwner>O</BoxOwner><CreateDate>1700172800</CreateDate>'
        '<Protected>0</Protected><NumOfDocs>9</NumOfDocs><NumOfFolders>2</NumOfFolders>'
        '<LastUpdateDate>1700173400</LastUpdateDate><BoxUsedDisk>170</BoxUsedDisk>'
        '<PreservationPeriodFlag>1</PreservationPeriodFlag><PreservationPeriod>60</PreservationPeriod>'
        '<WarningNotice>W</WarningNotice></BoxProp>\n'))
    put("xmlreply", "folderdoclist", reply(
        '  <Folders NumOfFolders="1"><FolderProp FolderID="F0000001"><FolderName>M</FolderName>'
        '<CreateDate>1</CreateDate><LastUpdateDate>2</LastUpdateDate><NumOfDocs>3</NumOfDocs></FolderProp>'
        '</Folders>\n  <Documents NumOfDocs="1"><DocProp DocID="D0000001"><DocName>\u6587\u66f8</DocName>'
        '<CreateDate>1</CreateDate><LastUpdateDate>2</LastUpdateDate><DocStatus>2</DocStatus>'
        '<LastAccessDate>3</LastAccessDate><NumOfPages>2</NumOfPages><DocSize>17</DocSize>'
        '<SourceType>1</SourceType><ColorMonoMix>2</ColorMonoMix>'
        '<ThumbnailPath>/SHR/BOX/DATA/B0000001/P0000001/D0000001/THUMB.BIN</ThumbnailPath>'
        '<ThumbnailRotation>1</ThumbnailRotation><MResolution>600</MResolution>'
        '<SResolution>300</SResolution><ScanDuplex>2</ScanDuplex></DocProp></Documents>\n'))
    put("xmlreply", "version", reply(
        "  <VersionInfo><EngineVersion>Korvo-B V1.3.0.0</EngineVersion></VersionInfo>\n"
        "  <MACAddress>02:00:5E:10:20:30</MACAddress>\n  <DiskCapacity>1048576</DiskCapacity>\n"))
    put("xmlreply", "refused", reply("").replace("<Result>0</Result>", "<Result>211</Result>"))
    laughs = '<!DOCTYPE BoxNwLib [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">]>'
    put("xmlreply", "doctype", reply("  <Boxes NumOfBoxes=\"1\"><BoxProp BoxNo=\"1\"><BoxName>&b;</BoxName>"
                                      "</BoxProp></Boxes>\n").replace("?>\n", "?>" + laughs, 1))
    put("xmlreply", "count-wraps", reply(
        '  <Boxes NumOfBoxes="4294967296"><BoxProp BoxNo="1"><BoxName>a</BoxName></BoxProp>'
        '<BoxProp BoxNo="2"><BoxName>b</BoxName></BoxProp></Boxes>\n'))


def ftp_listing():
    lines = ["drwxr-xr-x   2 vtbox    vtbox            4096 Nov 14 22:15 D0000001",
             "-rw-r--r--   1 vtbox    vtbox             512 Nov 14 22:15 D0000001.XML",
             "-rw-r--r--   1 vtbox    vtbox               0 Nov 14  2023 UNLOCK.STS"]
    put("ftp_listing", "device", "total 25\n" + "\n".join(lines) + "\n")
    put("ftp_listing", "crlf", "total 25\r\n" + "\r\n".join(lines) + "\r\n")
    put("ftp_listing", "headless", "\n".join(lines))
    put("ftp_listing", "unsafe", "total 1\n" + lines[0][:-8] + "..\n" + lines[1][:-12] + "a/b.XML\n")


def deflate(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def zip_archive(entries, zip64=False):
    """entries: (name, data, deflated, external attributes). With zip64 every
    central record keeps its sizes and offset in a zip64 extra field."""
    out, central = b"", b""
    for name, data, deflated, attrs in entries:
        name = name.encode("utf-8")
        stored = deflate(data) if deflated else data
        crc = zlib.crc32(data) & 0xFFFFFFFF
        method = 8 if deflated else 0
        offset = len(out)
        out += struct.pack("<IHHHIIIIHH", 0x04034B50, 45, 0x800, method, 0x5A2F6000, crc, len(stored),
                           len(data), len(name), 0) + name + stored
        if zip64:
            extra = struct.pack("<HHQQQ", 1, 24, len(data), len(stored), offset)
            sizes = (0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF)
        else:
            extra, sizes = b"", (len(stored), len(data), offset)
        central += struct.pack("<IHHHHIIIIHHHHHII", 0x02014B50, 45, 45, 0x800, method, 0x5A2F6000, crc,
                               sizes[0], sizes[1], len(name), len(extra), 0, 0, 0, attrs, sizes[2]) + name + extra
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(out), 0)
    return out + central + end


def zip_reader():
    description = (b'<?xml version="1.0"?>\n<BackupInfo><EngineVersion>Korvo-B V1.3.0.0</EngineVersion>'
                   b'</BackupInfo>\n')
    put("zip_reader", "backup", zip_archive([
        ("BOX\\", b"", False, 0x10), ("BOX\\Backup.XML", description, True, 0x20),
        ("BOX\\DATA\\B0000001.vtb", b"PK\x05\x06" + b"\0" * 18, False, 0x20)]))
    put("zip_reader", "zip64", zip_archive([("DATA/PAGE0001.DAT", b"\xff" * 300 + b"page", True, 0x20),
                                            ("DATA/D0000001.XML", b"D0000001" + b"\0" * 40, False, 0x20)],
                                           zip64=True))
    put("zip_reader", "escape", zip_archive([("../up.txt", b"x", False, 0x20), ("/abs.txt", b"y", False, 0x20),
                                             ("C:\\drive.txt", b"z", False, 0x20)]))
    put("zip_reader", "empty", struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0, 0, 0, 0, 0))
    level = "B0000001\\P0000001\\"
    page = level + "D0000001\\PAGE0001.DAT"
    box = [("B0000001\\", b"", False, 0x10), (level, b"", False, 0x10),
           (level + "D0000001.XML", b"D0000001" + b"\0" * 40, False, 0x20), (page, b"\x11" * 200 + b"page", True, 0x20)]
    put("zip_reader", "box", zip_archive(box))
    # A folder holding a document, with status files at each level.
    folder = level + "F0000002\\"
    put("zip_reader", "box-with-folder", zip_archive(box + [
        (level + "D0000001\\UNLOCK.STS", b"", False, 0x20), (level + "F0000002.XML", b"F0000002" + b"\0" * 40, False, 0x20),
        (folder, b"", False, 0x10), (folder + "UNLOCK.STS", b"", False, 0x20),
        (folder + "D0000003.XML", b"D0000003" + b"\0" * 40, False, 0x20),
        (folder + "D0000003\\PAGE0001.DAT", b"\x33" * 100, True, 0x20)]))
    put("zip_reader", "duplicate-names", zip_archive(box + [(page, b"the other one", True, 0x20)]))
    put("zip_reader", "case-only-names", zip_archive(box + [(page.lower(), b"the other one", True, 0x20)]))
    put("zip_reader", "deep-name", zip_archive([("\\".join(["a"] * 700) + "\\PAGE0001.DAT", b"x", False, 0x20)]))
    # The central record of the last entry pointed at the first's header, and
    # one whose data is said to run past the central directory.
    two = zip_archive(box + [(level + "D0000001\\PAGE0002.DAT", b"\x22" * 300, True, 0x20)])
    last = two.rindex(b"PK\x01\x02")
    put("zip_reader", "overlap", two[:last + 42] + struct.pack("<I", 0) + two[last + 46:])
    put("zip_reader", "beyond-file", two[:last + 20] + struct.pack("<I", 1 << 20) + two[last + 24:])


def record(own, name, mix=0, paper=0, colour=0):
    r = bytearray(512)
    r[0:8] = own.encode()
    n = name.encode("utf-16-le")[:128]
    r[9:9 + len(n)] = n
    struct.pack_into(">I", r, 148, 1700000000)
    r[157] = mix
    struct.pack_into(">I", r, 160, paper)
    struct.pack_into("<h", r, 166, colour)
    struct.pack_into("<h", r, 169, 2)
    struct.pack_into(">I", r, 172, 32)
    r[196:205] = b"THUMB.BIN"
    return bytes(r)


def record_file():
    put("record_file", "document", record("D0000001", "Doc R&D <caf\u00e9> \u6587\u66f8", 6, 0x4000, 0x200))
    put("record_file", "long-name", record("D0000001", "y" * 63 + "\U0001F600"))
    put("record_file", "short", b"D0000001\0Q\0")
    box = bytearray(1024)
    box[0:8] = b"B0000001"
    box[64:70] = "Box".encode("utf-16-le")
    put("record_file", "box", bytes(box))


def description():
    backup = ('<?xml version="1.0" encoding="UTF-8"?>\n<BackupInfo>\n<EngineVersion>Korvo-B V1.3.0.0'
              '</EngineVersion>\n<MACAddress>02:00:5E:10:20:30</MACAddress>\n'
              '<BackupDate>2026/12/08 05:07:09</BackupDate>\n<Boxes NumOfBoxes="2">\n'
              '<BoxProp><BoxNo>1</BoxNo><BoxName> Box 1 &amp; \u00fcber </BoxName><Protected>yes</Protected>'
              '<NumOfFolders>2</NumOfFolders><NumOfDocs>9</NumOfDocs><BoxUsedDisk>170</BoxUsedDisk></BoxProp>\n'
              '<BoxProp><BoxNo>2</BoxNo><BoxName>B</BoxName><Protected>no</Protected><NumOfFolders>0'
              '</NumOfFolders><NumOfDocs>0</NumOfDocs><BoxUsedDisk>1</BoxUsedDisk></BoxProp>\n'
              '</Boxes>\n</BackupInfo>\n')
    put("description", "backup", b"\x01" + backup.encode("utf-8"))
    archive = ('<?xml version="1.0"?>\n<ArchiveInfo><Version>Korvo-B V1.3.0.0</Version><MACAddress>m'
               '</MACAddress><NumOfDocs>3</NumOfDocs><ArchiveDate>2026/1/2 3:4:5</ArchiveDate></ArchiveInfo>\n')
    put("description", "archive", b"\x02" + archive.encode("utf-8"))
    put("description", "old-version", b"\x01" + backup.replace("V1.3.0.0", "V1.2.0.0").encode("utf-8"))
    put("description", "doctype", b"\x01" + backup.replace("<BackupInfo>", '<!DOCTYPE BackupInfo [<!ENTITY n "x">]>'
                                                                         "<BackupInfo>", 1).encode("utf-8"))


def registry():
    put("registry", "store", '# vtbox registry: HKEY_CURRENT_USER\n\n[Software\\Lumo\\Tarvo Lumo Client\\BRD]\n'
        '"FtpLog"=dword:00000002\n\n[Software\\vtbox\\Utility]\n"Host"=sz:"10.0.0.5"\n'
        '"Name"=sz:"Printer \\"A\\" \\\\ \\n\\t"\n\n[]\n"Top"=sz:""\n')
    put("registry", "odd", '[a]b]\n"x"=dword:zz\n[\\\\]\n"y\n[Software\\\\\\Deep\\A\\B\\C]\r\n"z"=sz:"open\n')


def sim_http():
    base = "/VaultraBox/Admin/"
    auth = "SID=10000001&PWD=p%26w%2Bd%20%25"
    for name, target in [("connect", "/VaultraBox/boxnwConnect"),
                         ("boxlist", base + "boxnwGetBoxList?SID=10000001"),
                         ("property", base + "boxnwGetBoxProperty?" + auth + "&BNO=001"),
                         ("folder", base + "boxnwGetFolderDocList?" + auth + "&BNO=001&FID=F0000001"),
                         ("delete", base + "boxnwDeleteDoc?" + auth + "&BNO=001&FID=&DID=D0000001"),
                         ("serial", base + "boxnwDirSerialClusterChange?" + auth + "&BNO=1&FID=&DID=&NOC=1&MOD=0"),
                         ("raw-password", base + "boxnwGetEngineVersion?SID=10000001&PWD=p&w+d %&MOD=1"),
                         ("control", "/devicesim/fault?kind=freeze&scope=web&seconds=0")]:
        put("sim_http", name, "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")


def sim_ftp():
    login = "USER vtbkup0001\r\nPASS admin\r\n"
    put("sim_ftp", "walk", login + "SYST\r\nTYPE I\r\nCWD /SHR/BOX/DATA/B0000001\r\nPWD\r\nCDUP\r\n"
        "SIZE /SHR/BOX/DATA/B0000001/P0000001/D0000001.XML\r\nLIST -l P0000001\r\nRETR x\r\nQUIT\r\n")
    put("sim_ftp", "change", login + "MKD /SHR/BOX/DATA/B0000002\r\nCWD /SHR/BOX/DATA/B0000002\r\nMKD P0000001\r\n"
        "RMD P0000001\r\nDELE /SHR/BOX/DATA/B0000001/P0000001/D0000001/PAGE0001.DAT\r\nSTOR new.bin\r\n")
    put("sim_ftp", "escape", login + "CWD /SHR/BOX/link\r\nMKD /SHR/BOX/link/x\r\nDELE /SHR/BOX/link/keep\r\n"
        "RMD /SHR/BOX/link/inner\r\nCWD ../../../..\r\nMKD ../../x\r\nPORT 127,0,0,1,4,1\r\nEPRT |1|127.0.0.1|5282|\r\n")
    put("sim_ftp", "shell-words", login + "ls\r\nmkdir a\r\ncd a\r\nrmdir a\r\npass secret\r\nNOOP\r\n")


def element_map():
    # The head of a shipped map (snmpprovider/maps), and lines each reader rule meets.
    with open(os.path.join(HERE, "..", "..", "snmpprovider", "maps", "TabsNMap.txt"), "rb") as f:
        put("element_map", "shipped", b"\n".join(f.read().split(b"\n")[:24]) + b"\n")
    t = "\t"
    put("element_map", "rules", "-- comment\tignored\n\n" + t.join(
        ["root", "1", "1.3.6.1.2.1.25", "", "Root", "0", "0", "", "not-accessible", "", "root-OID"]) + "\n" + t.join(
        ["tab", "2", "1.3.6.1.2.1.25.3.2", "", "T", "0", "0", "", "not-accessible", "", "table"]) + "\n" + t.join(
        ["entry", "3", "1.3.6.1.2.1.25.3.2.1", "1.3.6", "E", "1", "2", "", "not-accessible", "", "row", "4"]) +
        "\n" + t.join(["index", "4", "1.3.6.1.2.1.25.3.2.1.1", "", "I", "0", "0", "integer", "read-only", "",
                      "dynamic"]) + "\n" + t.join(
        ["scalar", "5", "1.3.6.1.2.1.1.5", "", "S", "0", "0", "DateAndTime", "read-write", "v", "static"]) + "\r\n")
    # A number given again (refused at its line), after the extreme numbers.
    put("element_map", "duplicates", "".join(t.join([name, number, oid, "", "", "0", "0", "integer", "read-only", "",
                                                      "static"]) + "\n" for name, number, oid in (
        ("max", "2147483647", "1.3.1"), ("min", "-2147483648", "1.3.2"), ("first", "7", "1.3.7"),
        ("again", "7", "1.3.8"), ("after", "8", "1.3.9"))))
    # Many short scalars under one root: each once walked back to the root.
    put("element_map", "many-entries", t.join(["r", "1", "1.3", "", "", "", "", "", "", "", "root-OID"]) + "\n" +
        "".join(f"s\t{n}\t1.3.{n}\t\t\t\t\tcounter\tread-only\t\t\n" for n in range(2, 120)))


def plain_text():
    put("plain_text", "names", "Box 1 R&D <caf\u00e9> \u6587\u66f8\n\tfake row\r\x1b[2J\x7f\u0085")
    put("plain_text", "bytes", b"ok \xc2\x9b31m \xff\xfe \xe6\x96 \xf0\x9f\x98\x80 end")
    # A name as extract must not take it: a path up, hidden, and longer than a local name.
    put("plain_text", "path-name", "../../.hidden/" + "\u20ac" * 80 + "[a-z]*?\\")


def conversion_settings():
    # A shipped settings file, and lines each reader rule meets.
    with open(os.path.join(HERE, "..", "..", "engine", "conversion", "settings", "Korvo-B V1.3.0.0.ini"), "rb") as f:
        put("conversion_settings", "shipped", f.read())
    put("conversion_settings", "rules",
        "; comment\r\n[korvo-a v1.2.0.0]\r\nCOLORCHECK=1\r\nWidePaperCheck = 1\r\n   Indented=1\r\n"
        "Copy=[x];y\r\n[no end\r\nx[Second]\r\nCopyCompoundCheck=-2\r\nK-SizeCheck=abc\r\n\r\n")
    put("conversion_settings", "tab", "[A]\nColorCheck=1\n\tWidePaperCheck=1\n")
    put("conversion_settings", "no-section", "ColorCheck=1\n")
    put("conversion_settings", "backup-xml",
        '<?xml version="1.0" encoding="UTF-8"?>\r\n<BackupInfo>\r\n<EngineVersion>Korvo-B V1.3.0.0</EngineVersion>\r\n'
        '<Boxes NumOfBoxes="1">\r\n<BoxProp>\r\n<BoxName>NumOfDocs</BoxName>\r\n<NumOfDocs>5</NumOfDocs>\r\n'
        '<BoxUsedDisk>9</BoxUsedDisk>\r\n</BoxProp>\r\n</Boxes>\r\n</BackupInfo>')


def json_line():
    # A device job's summary line, escapes of every kind, and what is refused whole: nesting
    # deeper than the bound, a lone surrogate, a second value after the object.
    put("json_line", "summary", '{"type":"summary","command":"backup","outcome":"failed","exitCode":6,"code":4319,'
        '"text":"The device is not available.","detail":"no reply","file":"","size":0,"seconds":0.000}')
    put("json_line", "escapes", '{"a\\u00e9":"\\"q\\" \\\\ \\/ \\b\\f\\n\\r\\t \\ud83d\\ude00","n":[1,{"x":null}],"t":true}')
    put("json_line", "deep", '{"a":' + "[" * 40 + "]" * 40 + "}")
    put("json_line", "lone-surrogate", '{"a":"\\ud800"}')
    put("json_line", "two-values", '{"a":1} {"b":2}')


def job_history():
    # A history as written (escapes, counts not known, a later version's field), and lines the
    # reader passes over: a box 0, a number too long, a bad escape, a line without its end.
    head = "# vtbox job history: one job a line, oldest first\n"
    put("job_history", "written", head +
        "1765000000\tbackup\tdone\tvtbox\toffice (10.0.0.7)\t1,2,3\t/b/office.zip\t4096\t12\t3.5\t\n"
        "1765000100\trestore\tfailed\tutility\ta\\tb\\x01\t7\t/b/x\\ny.zip\t-\t-\t0.0\tno reply\textra\n"
        "1765000200\tbackup\tnot-released\tutility-schedule\t\t\t\t-\t0\t10.0\tlocked\n")
    put("job_history", "passed-over", head +
        "1765000000\tbackup\tdone\tvtbox\td\t0\tf\t1\t1\t1.0\t\n"
        "1765000000\tbackup\tdone\tvtbox\td\t1\tf\t1234567890123456789\t1\t1.0\t\n"
        "1765000000\tbackup\tdone\tvtbox\td\\q\t1\tf\t1\t1\t1.0\t\n"
        "1765000000\tbackup\tdone\tvtbox\td\t1\tf\t1\t1\t1.0\tcut")


for make in (xmlreply, ftp_listing, zip_reader, record_file, description, registry, sim_http, sim_ftp,
             element_map, plain_text, conversion_settings, json_line, job_history):
    make()
