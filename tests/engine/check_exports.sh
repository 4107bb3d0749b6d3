#!/usr/bin/env bash
# The engine library exports exactly the calls that vtBoxBRD.h declares:
# every declaration has its code, and nothing else is exported.
# Usage: check_exports.sh <vtBoxBRD.h> <libvtBoxBRD.so>
set -euo pipefail
header=$1 library=$2
declared=$(grep -o 'VTBOX_API[^(]*\bvtBox[A-Za-z0-9_]*(' "$header" | grep -o 'vtBox[A-Za-z0-9_]*' | sort -u)
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sed 's/@.*//' | sort -u)
if [[ "$declared" != "$exported" ]]; then
  echo "declared in $(basename "$header") but not exported:"
  comm -23 <(echo "$declared") <(echo "$exported") | sed 's/^/  /'
  echo "exported but not declared:"
  comm -13 <(echo "$declared") <(echo "$exported") | sed 's/^/  /'
  exit 1
fi
echo "$(echo "$declared" | wc -l) calls declared and exported"
