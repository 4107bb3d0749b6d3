#!/usr/bin/env bash
# The installed tree works on its own: every program and library finds what it
# needs relative to itself, a backup runs against the simulated device from
# the installed files alone, and the manuals and completions are in place.
set -euo pipefail
stage=$1 bindir=$2 libdir=$3 pkglibdir=$4 pkgdatadir=$5 mandir=$6 datadir=$7

fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
bin=$stage/$bindir
# A clean environment: no library path, a home of its own.
run() { env -i PATH=/usr/bin:/bin HOME="$work/home" VTBOX_REGISTRY_DIR="$work/registry" \
          ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} "$@"; }
mkdir -p "$work/home"

echo "== every program and library searches only beside itself"
while IFS= read -r -d '' f; do
  [ "$(head -c 4 "$f" | tail -c 3)" = ELF ] || continue
  for path in $(readelf -d "$f" | sed -n 's/.*R\(UN\)\?PATH.*\[\(.*\)\]/\2/p' | tr ':' ' '); do
    case $path in '$ORIGIN'*) ;; *) fail "$f searches $path" ;; esac
  done
  missing=$(run ldd "$f" | grep "not found" || true)
  [ -z "$missing" ] || fail "$f: $missing"
done < <(find "$stage" -type f -print0)

echo "== the files the programs look for are where they look"
test -f "$stage/$pkglibdir/libbrlang.so" || fail "libbrlang.so is not in $pkglibdir"
test -f "$stage/$pkglibdir/libKX9SNMPProvider.so" || fail "the SNMP provider is not in $pkglibdir"
test -f "$stage/$pkgdatadir/help/backup.html" || fail "the utility's help is not in $pkgdatadir/help"
for map in HRMap.txt PrintMap.txt TabsMap.txt TabsJMap.txt TabsNMap.txt; do
  test -f "$stage/$pkgdatadir/snmp/$map" || fail "$map is not in $pkgdatadir/snmp"
done
test -f "$stage/$datadir/applications/vaultra-backup-restore.desktop" || fail "no desktop entry"

echo "== the SNMP provider loads its maps from the data folder"
run "$bin/vtbox-snmp" schema >"$work/schema.txt" || { cat "$work/schema.txt"; fail "vtbox-snmp schema"; }
grep -q sysDescr "$work/schema.txt" || fail "the schema lacks sysDescr"

echo "== a backup against the simulated device, from the installed files"
run "$bin/vtbox" --version >"$work/version.txt" || fail "vtbox --version"
grep -F "($stage/$libdir/libvtBoxBRD.so." "$work/version.txt" >/dev/null ||
  fail "vtbox does not use the engine of the moved tree: $(cat "$work/version.txt")"
# Started without the function, so that $! is the device itself.
env -i PATH=/usr/bin:/bin HOME="$work/home" ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} \
  "$bin/vtbox-devicesim" --store "$work/store" --seed --boxes 2 --folders 1 --docs 2 --pages 1 \
  --http-port 0 --ftp-port 0 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 1 100); do grep -q '^ftp port' "$work/sim.out" && break; sleep 0.1; done
http_port=$(sed -n 's/^http port //p' "$work/sim.out")
ftp_port=$(sed -n 's/^ftp port //p' "$work/sim.out")
[ -n "$http_port" ] && [ -n "$ftp_port" ] || { cat "$work/sim.err"; fail "the simulated device did not start"; }
run VTBOX_PASSWORD=admin "$bin/vtbox" --host 127.0.0.1 --port "$http_port" --ftp-port "$ftp_port" \
  backup --boxes all --output "$work/backup.zip" || fail "the backup"
run "$bin/vtbox" info "$work/backup.zip" | grep "^  002" >/dev/null || fail "the backup does not hold box 2"

echo "== a conversion finds the installed settings files"
(cd "$work" && run "$bin/vtbox" convert backup backup.zip converted.zip --to "Korvo-C V1.3.0.0") ||
  fail "the conversion did not find $pkgdatadir/conversion"
run "$bin/vtbox" info "$work/converted.zip" | grep -F "Korvo-C V1.3.0.0" >/dev/null || fail "the converted backup"

echo "== the utility loads its language library from the installed tree"
mkdir -m 700 "$work/run"
gui() { run XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen VTBOX_HTTP_PORT="$http_port" "$@"; }
gui "$bin/vtbox-discover" --choose 127.0.0.1 --name "Print room" >/dev/null || fail "vtbox-discover --choose"
# With a device chosen, the program loads its texts and waits at the login.
gui LD_DEBUG=files timeout -k 2 5 "$bin/VAULTRABackupRestore" 2>"$work/gui.err" || true
grep "file=$stage/$pkglibdir/libbrlang.so .*generating link map" "$work/gui.err" >/dev/null ||
  fail "the utility did not load $pkglibdir/libbrlang.so"

echo "== manuals and completion"
for page in vtbox vtbox-fleet VAULTRABackupRestore vtbox-discover vtbox-snmp vtbox-devicesim; do
  zcat "$stage/$mandir/man1/$page.1.gz" >"$work/page" || fail "no manual page for $page"
  sed 's/\\-/-/g' "$work/page" | grep -i '^\.TH "'"$page"'"' >/dev/null || fail "$page.1 is no manual page of $page"
done
bash_completion=$stage/$datadir/bash-completion/completions/vtbox
zsh_completion=$stage/$datadir/zsh/vendor-completions/_vtbox
# What bash offers for a command line whose last word is being typed.
complete_words() {
  bash -c 'source /usr/share/bash-completion/bash_completion; source "$0"
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _vtbox vtbox "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}"' "$bash_completion" vtbox "$@"
}
if command -v zsh >/dev/null; then zsh -n "$zsh_completion" || fail "the zsh completion does not parse"; fi
# Every command that vtbox --help lists, and every option that a command's
# help names, is completed.
commands=$(run "$bin/vtbox" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || fail "vtbox --help lists no commands"
if [ -f /usr/share/bash-completion/bash_completion ]; then
  offered=$(complete_words "")
  for c in $commands; do
    grep -qx "$c" <<<"$offered" || fail "bash does not complete the command $c"
    options=$(run "$bin/vtbox" "$c" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
    offered_options=$(complete_words --host h "$c" --)
    for option in $options; do
      grep -qx -- "$option" <<<"$offered_options" || fail "bash does not complete $option after $c"
      grep -q -- "'\*\?$option\[\|'(-[a-z] $option)'\|{-[a-z],$option}" "$zsh_completion" ||
        fail "zsh does not complete $option"
    done
  done
  grep -qx keep-both <<<"$(complete_words restore --mode "")" || fail "bash does not complete the restore modes"
  grep -qx status <<<"$(complete_words fleet "")" || fail "bash does not complete the fleet commands"
  printf '[group.floor2]\n[[device]]\nname = "lab-1"\n' >"$work/site.toml"
  offered=$(cd "$work" && complete_words fleet backup "")
  grep -qx site.toml <<<"$offered" && ! grep -qx backup.zip <<<"$offered" ||
    fail "bash does not complete the inventory alone: $offered"
  grep -qx floor2 <<<"$(cd "$work" && complete_words fleet backup site.toml --group "")" ||
    fail "bash does not complete the inventory's groups"
else
  echo "bash-completion is not installed: the bash completion is not tried (scripts/install-deps installs it)"
fi
for c in $commands; do grep -q "\b$c\\\\:" "$zsh_completion" || fail "zsh does not complete the command $c"; done
echo "ok"
