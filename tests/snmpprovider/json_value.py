#!/usr/bin/env python3
"""Prints what Python expressions make of a JSON document on standard input
(as `d`), one line each; strings as they are, everything else as JSON."""
import json
import sys

d = json.load(sys.stdin)
for expression in sys.argv[1:]:
    value = eval(expression, {"d": d})
    print(value if isinstance(value, str) else json.dumps(value))
