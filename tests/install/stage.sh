#!/usr/bin/env bash
# Installs the build into a scratch folder, then moves it to STAGE.
set -euo pipefail
build=$1 stage=$2
rm -rf "$stage" "$stage.first"
cmake --install "$build" --prefix "$stage.first" >/dev/null
mv "$stage.first" "$stage"
