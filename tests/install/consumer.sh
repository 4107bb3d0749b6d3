#!/usr/bin/env bash
# Builds a small program against the installed tree twice, with its CMake
# package and with its pkg-config file, and runs both builds.
set -euo pipefail
stage=$1 source=$2 work=$3 libdir=$4 flags=${5:-}
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
echo "not a zip" >"$work/not-a-backup.zip"

cmake -S "$source" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/cmake" >/dev/null
# The consumer finds the libraries through the imported targets' locations.
"$work/cmake/consumer" "$work/not-a-backup.zip" "$work"

export PKG_CONFIG_PATH="$stage/$libdir/pkgconfig"
export PKG_CONFIG_LIBDIR=/nonexistent
test "$(pkg-config --variable=libdir vtboxbrd)" -ef "$stage/$libdir"
cc -Wall -Werror $flags -o "$work/consumer-pc" "$source/consumer.c" $(pkg-config --cflags --libs vtboxbrd)
LD_LIBRARY_PATH="$stage/$libdir" "$work/consumer-pc" "$work/not-a-backup.zip" "$work"
