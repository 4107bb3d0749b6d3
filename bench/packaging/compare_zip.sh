#!/usr/bin/env bash
# Packs the same tree of scan-like files with ZipFolder, Info-ZIP `zip -r`
# (default level) and Python's zipfile (deflate, default level), and prints
# wall time and peak memory of each and the ratios to ZipFolder.
#
#   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVTBOX_BUILD_BENCH=ON
#   cmake --build build-bench
#   bench/packaging/compare_zip.sh build-bench 100 300     # tree sizes in MB
#
# Needs zip, unzip, python3 and /usr/bin/time (Debian package "time").
set -euo pipefail

build=${1:-build-bench}
shift || true
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(300)
driver="$build/bench/packaging/vtbox_zipfolder"
[ -x "$driver" ] || { echo "build $driver first (-DVTBOX_BUILD_BENCH=ON)" >&2; exit 2; }
driver=$(readlink -f "$driver")

work=$(mktemp -d "${TMPDIR:-/tmp}/vtbox-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# A box folder as the device keeps it: documents of a few pages each. Pages
# are mostly already-compressed image data with some compressible regions.
make_tree() {
    python3 - "$1" "$2" <<'PY'
import os, random, sys
root, total = sys.argv[1], int(sys.argv[2]) * 1024 * 1024
rnd = random.Random(7)
made, doc = 0, 0
while made < total:
    doc += 1
    box = f"B{(doc // 40) + 1:07d}"
    folder = os.path.join(root, box, "P0000001", f"D{doc:07d}")
    os.makedirs(folder, exist_ok=True)
    with open(folder + ".XML", "wb") as f:
        f.write(os.urandom(137))
    for page in range(1, rnd.randint(1, 6) + 1):
        size = rnd.randint(200_000, 1_200_000)
        noisy = int(size * 0.7)
        band = bytes((i // 97) % 251 for i in range(size - noisy))
        with open(os.path.join(folder, f"PAGE{page:04d}.JPG"), "wb") as f:
            f.write(os.urandom(noisy) + band)
        made += size
PY
}

# Runs a command under /usr/bin/time -v; prints "seconds kilobytes".
measure() {
    local log="$work/time.log"
    /usr/bin/time -v "$@" >/dev/null 2>"$log" || { cat "$log" >&2; exit 1; }
    local wall kb
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$log")
    kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
    python3 -c "
import sys
parts = [float(p) for p in sys.argv[1].split(':')]
secs = sum(p * 60 ** i for i, p in enumerate(reversed(parts)))
print(f'{secs:.2f} {sys.argv[2]}')" "$wall" "$kb"
}

python_zip='
import os, sys, zipfile
src, dst = sys.argv[1], sys.argv[2]
os.chdir(os.path.dirname(src))
with zipfile.ZipFile(dst, "w", zipfile.ZIP_DEFLATED) as z:
    for top, dirs, files in os.walk(os.path.basename(src)):
        z.write(top)
        for f in files:
            z.write(os.path.join(top, f))
'

printf '%-8s %-16s %9s %11s %11s %9s %9s\n' size tool seconds peak_kB archive_MB time/ours mem/ours
for mb in "${sizes[@]}"; do
    tree="$work/t$mb"
    mkdir -p "$tree"
    make_tree "$tree/DATA" "$mb"
    sync
    read -r our_s our_kb < <(measure "$driver" "$work/ours.zip" "$tree/DATA")
    unzip -tq "$work/ours.zip" >/dev/null
    read -r zip_s zip_kb < <(cd "$tree" && measure zip -r -q "$work/infozip.zip" DATA)
    read -r py_s py_kb < <(measure python3 -c "$python_zip" "$tree/DATA" "$work/python.zip")
    for row in "ZipFolder $our_s $our_kb $work/ours.zip" \
               "zip-r $zip_s $zip_kb $work/infozip.zip" \
               "python-zipfile $py_s $py_kb $work/python.zip"; do
        set -- $row
        size_mb=$(python3 -c "import os,sys; print(f'{os.path.getsize(sys.argv[1])/1048576:.1f}')" "$4")
        python3 -c "
import sys
name, s, kb, size, ours_s, ours_kb, mb = sys.argv[1:]
print(f'{mb+\"MB\":<8} {name:<16} {float(s):9.2f} {int(kb):11d} {size:>11} {float(s)/float(ours_s):9.2f} {int(kb)/int(ours_kb):9.2f}')
" "$1" "$2" "$3" "$size_mb" "$our_s" "$our_kb" "$mb"
    done
    rm -rf "$tree" "$work"/*.zip
done
