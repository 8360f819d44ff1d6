#!/usr/bin/env bash
# installed_files_test BUILD_DIR SHARE_SIM
#
# Installs the build into a fresh prefix and checks what a desktop and a packager get: the
# program's folder with its layout, the command linked into it, icons of the sizes their
# folders say, a desktop entry and metainfo that pass their validators and name each other
# and the kept screenshots, and an engine that works from the installed folder (dlget fetches
# a file from share-sim).
set -euo pipefail
build="$1"
share_sim="$2"

work="$(mktemp -d)"
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        # KILL: a TERM could land before the child has dropped this script's traps, and be lost.
        kill -KILL "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() {
    echo "installed_files_test: $*" >&2
    exit 1
}

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
program_dir="$prefix/lib/pandrel"
share="$prefix/share"

# The command must run the program from its own folder, where the engine lies beside it.
[ -L "$prefix/bin/pandrel" ] || fail "bin/pandrel is not a symbolic link"
[ "$(readlink -f "$prefix/bin/pandrel")" = "$program_dir/pandrel" ] ||
    fail "bin/pandrel leads to $(readlink -f "$prefix/bin/pandrel")"
for file in pandrel dlget DownLoad/dlhost; do
    [ -x "$program_dir/$file" ] || fail "lib/pandrel/$file is missing or not executable"
done
[ -f "$program_dir/libdlengine.so" ] || fail "lib/pandrel/libdlengine.so is missing"
runpath="$(readelf -d "$program_dir/dlget" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')"
[ "$runpath" = '$ORIGIN' ] || fail "the installed dlget searches '$runpath' for its engine"

# Each PNG's width and height (bytes 16 to 23 of the file) match its folder's name.
for size in 16 24 32 48 64 128 256; do
    png="$share/icons/hicolor/${size}x${size}/apps/pandrel.png"
    [ -f "$png" ] || fail "no ${size}x$size icon"
    dimensions="$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')"
    [ "$dimensions" = "${size}x$size" ] || fail "the ${size}x$size icon is $dimensions"
done
[ -f "$share/icons/hicolor/scalable/apps/pandrel.svg" ] || fail "no scalable icon"

desktop="$share/applications/pandrel.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
metainfo=("$share"/metainfo/*.metainfo.xml)
[ ${#metainfo[@]} -eq 1 ] && [ -f "${metainfo[0]}" ] || fail "not exactly one metainfo file"
appstreamcli validate --no-net "${metainfo[0]}" || fail "appstreamcli rejects the metainfo"
launchable="$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "${metainfo[0]}")"
[ -f "$share/applications/$launchable" ] || fail "the metainfo launches '$launchable'"
# Each screenshot the metainfo names is one of the pictures kept to be published.
screenshots="$(cd "$(dirname "$0")/../../packaging/screenshots" && pwd)"
for picture in $(sed -n 's:.*<image[^>]*>.*/\([^/]*\)</image>.*:\1:p' "${metainfo[0]}"); do
    [ -f "$screenshots/$picture" ] || fail "the metainfo shows $picture, which is not kept"
done
icon="$(sed -n 's/^Icon=//p' "$desktop")"
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the entry's icon '$icon' is missing"
command="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
[ -x "$prefix/bin/$command" ] || fail "the entry runs '$command', which is not installed"

# The installed engine, started from its folder, downloads a file whole.
mkdir -p "$work/shares/S" "$work/downloads"
head -c 3145728 /dev/urandom >"$work/shares/S/data.bin"
# The file exists before share-sim starts, so that reading it never races its creation.
: >"$work/sim.out"
# share-sim dies with this script and holds no output of ctest's open, whatever ends the test.
setpriv --pdeathsig KILL "$share_sim" --root "$work/shares" --port 0 >"$work/sim.out" 2>&1 &
sim_pid=$!
port=""
for _ in $(seq 100); do
    port="$(sed -n 's/^share-sim listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.out")"
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || fail "share-sim did not start"
"$program_dir/dlget" "http://127.0.0.1:$port/d/S/data.bin" -d "$work/downloads" -c 4 -q >/dev/null ||
    fail "the installed dlget failed"
cmp "$work/shares/S/data.bin" "$work/downloads/data.bin" || fail "the download differs"
echo "installed_files_test: passed"
