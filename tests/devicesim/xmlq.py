"""Reads a reply document on stdin and prints one value per argument.

Arguments are ElementTree paths below the root element, optionally ending in
@attribute; "count:" before a path prints the number of matching elements.
A document that does not parse prints PARSE-ERROR and exits with 3.
"""
import sys
import xml.etree.ElementTree as ET

data = sys.stdin.buffer.read()
try:
    root = ET.fromstring(data)
except ET.ParseError as e:
    print("PARSE-ERROR", e)
    sys.exit(3)
print("root=" + root.tag)
for arg in sys.argv[1:]:
    if arg.startswith("count:"):
        print(len(root.findall(arg[6:])))
        continue
    path, _, attr = arg.partition("@")
    node = root.find(path)
    if node is None:
        print("<missing>")
    elif attr:
        print(node.get(attr, "<missing>"))
    else:
        print(node.text or "")
