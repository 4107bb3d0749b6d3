#!/usr/bin/env python3
"""A small printer's share of the Printer MIB, served to snmpd ("pass_persist").

snmpd starts this once and talks to it line by line: "PING" is answered
"PONG"; "get" or "getnext" followed by an object identifier is answered with
three lines (identifier, type, value) or "NONE". Values are fixed so that
tests know what to expect.
"""
import sys

PRT = (1, 3, 6, 1, 2, 1, 43)
OBJECTS = {
    PRT + (5, 1, 1, 16, 1): ("string", "Test printer"),          # prtGeneralPrinterName
    PRT + (10, 2, 1, 4, 1, 1): ("counter", "4294967295"),          # prtMarkerLifeCount: all bits set
}
# Supplies of seven printers, two each: more groups than a scalar object has lists.
for device in range(1, 8):
    for supply in (1, 2):
        OBJECTS[PRT + (11, 1, 1, 6, device, supply)] = ("string", f"Toner {device}-{supply}")
        OBJECTS[PRT + (11, 1, 1, 9, device, supply)] = ("integer", str(device * 10 + supply))
ORDER = sorted(OBJECTS)


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
            sys.stdin.readline()
            sys.stdin.readline()
            reply = "not-writable\n"
        elif command == "":
            break
        else:
            reply = "NONE\n"
        sys.stdout.write(reply)
        sys.stdout.flush()


main()
