#!/usr/bin/env python3
"""A small printer's share of the Printer MIB, served to snmpd ("pass_persist").

snmpd starts this once and talks to it line by line: "PING" is answered
"PONG"; "get" or "getnext" followed by an object identifier is answered with
three lines (identifier, type, value) or "NONE"; "set" followed by an object
identifier and a "type value" line is answered "DONE" for a writable string,
else "not-writable". Values start fixed so that tests know what to expect.
"""
import sys

PRT = (1, 3, 6, 1, 2, 1, 43)
OBJECTS = {
    PRT + (10, 2, 1, 4, 1, 1): ("counter", "4294967295"),          # prtMarkerLifeCount: all bits set
}
# Writable names in two sparse tables: printers 1, 3 and 1000 (prtGeneralPrinterName,
# one index) and input trays 1.1, 1.4 and 5.2 (prtInputName, two indices).
WRITABLE = set()
for instance, name in (((1,), "Test printer"), ((3,), "Second printer"), ((1000,), "Far printer"),
                       ((1, 1), "Tray 1.1"), ((1, 4), "Tray 1.4"), ((5, 2), "Tray 5.2")):
    column = (5, 1, 1, 16) if len(instance) == 1 else (8, 2, 1, 13)
    OBJECTS[PRT + column + instance] = ("string", name)
    WRITABLE.add(PRT + column + instance)
# Supplies of seven printers, two each: more groups than a scalar object has lists.
for device in range(1, 8):
    for supply in (1, 2):
        OBJECTS[PRT + (11, 1, 1, 6, device, supply)] = ("string", f"Toner {device}-{supply}")
        OBJECTS[PRT + (11, 1, 1, 9, device, supply)] = ("integer", str(device * 10 + supply))
ORDER = sorted(OBJECTS)  # sets change values, never the objects


def parse(text):
    return tuple(int(part) for part in text.strip().strip(".").split(".") if part)


def answer(command, oid):
    if command == "get":
        found = oid if oid in OBJECTS else None
    else:
        found = next((o for o in ORDER if o > oid), None)
    if found is None:
        return "NONE\n"
    kind, value = OBJECTS[found]
    return "." + ".".join(map(str, found)) + "\n" + kind + "\n" + value + "\n"


def main():
    for line in sys.stdin:
        command = line.strip()
        if command == "PING":
            reply = "PONG\n"
        elif command in ("get", "getnext"):
            reply = answer(command, parse(sys.stdin.readline()))
        elif command == "set":
            oid = parse(sys.stdin.readline())
            kind, _, value = sys.stdin.readline().rstrip("\n").partition(" ")
            if oid in WRITABLE and kind == "string":
                if len(value) >= 2 and value[0] == value[-1] == '"':
                    value = value[1:-1]
                OBJECTS[oid] = ("string", value)
                reply = "DONE\n"
            else:
                reply = "not-writable\n"
        elif command == "":
            continue  # snmpd follows a set's value with a blank line
        else:
            reply = "NONE\n"
        sys.stdout.write(reply)
        sys.stdout.flush()


main()
