#!/usr/bin/env bash
# installed_files_test BUILD_DIR SHARE_SIM
#
# Installs the build into a fresh prefix and checks what a desktop and a packager get: the
# program's folder with its layout, the command linked into it, icons of the sizes their
# folders say, a desktop entry and metainfo that pass their validators and name each other
# and the kept screenshots, and an engine that works from the installed folder (dlget fetches
# a file from share-sim). Then the prefix is made read-only and the installed program runs
# with a fresh home, on a virtual screen, driven by keyboard and mouse as a user would: its
# files go to the user's data folder, a parse fills the list and a download lands in the
# user's download folder. Last, pandrel-get, started through its command link as the same
# user, finds the parse service in that user's pandrel.ini and downloads the share.
set -euo pipefail
build="$1"
share_sim="$2"

work="$(mktemp -d)"
sim_pid=""
program_pid=""
screen_pid=""
cleanup() {
    # KILL: a TERM could land before a child has dropped this script's traps, and be lost.
    for pid in $program_pid $screen_pid $sim_pid; do
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    chmod -R u+w "$work" 2>/dev/null || true
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

# Each command must run its program from the program's folder, where the engine lies beside it.
for command in pandrel pandrel-get; do
    [ -L "$prefix/bin/$command" ] || fail "bin/$command is not a symbolic link"
    [ "$(readlink -f "$prefix/bin/$command")" = "$program_dir/$command" ] ||
        fail "bin/$command leads to $(readlink -f "$prefix/bin/$command")"
    [ -f "$share/man/man1/$command.1.gz" ] || fail "no manual page for $command"
done
for file in pandrel pandrel-get dlget DownLoad/dlhost; do
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
mkdir -p "$work/shares/S" "$work/downloads" "$work/fetched"
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

# --- The installed program, from a prefix it may not write, with a fresh home. ---
# Root writes anywhere, so as root the program runs as "nobody", which may not.
chmod 755 "$work"
chmod -R a-w "$prefix"
home="$work/home"
mkdir -p "$home/.config" "$home/.local/share/pandrel" "$work/runtime"
chmod 700 "$work/runtime"
echo 'XDG_DOWNLOAD_DIR="$HOME/下载"' >"$home/.config/user-dirs.dirs"
data="$home/.local/share/pandrel"
downloads="$home/下载/Pandrel"
# The user's own parse service is named where the user's data lives.
printf '[deployment]\nparse_service=http://127.0.0.1:%s/\n' "$port" >"$data/pandrel.ini"
share_id="AbCdEfGhIjKlMnOpQrStUvW"
mkdir -p "$work/shares/$share_id"
printf 'ab12' >"$work/shares/$share_id/.code"
head -c 2097152 /dev/urandom >"$work/shares/$share_id/数据.bin"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown -R nobody "$home" "$work/runtime"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi

: >"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac 3>"$work/display" 2>/dev/null &
screen_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
HOME="$home" XDG_RUNTIME_DIR="$work/runtime" XDG_DATA_HOME= XDG_CONFIG_HOME= \
    QT_QPA_PLATFORM=xcb "${as_user[@]}" "$prefix/bin/pandrel" >"$work/program.out" 2>&1 &
program_pid=$!
window="$(timeout 30 xdotool search --sync --onlyvisible --pid "$program_pid" | head -n1)" ||
    fail "the installed program showed no window: $(cat "$work/program.out")"
xdotool windowfocus --sync "$window"

# Every run file lies in the data folder, the engine's host runs from there, and nothing was
# written into the program's folder.
for _ in $(seq 100); do
    [ -d "$downloads" ] && break
    sleep 0.1
done
[ -d "$downloads" ] || fail "no download folder $downloads"
[ -x "$data/DownLoad/dlhost" ] || fail "the engine was not released into $data/DownLoad"
[ -f "$data/libgzip.so" ] || fail "the gzip library was not released into $data"
# The program's children from /proc (field 4 of a process's stat is its parent).
host_exe=""
for stat in /proc/[0-9]*/stat; do
    if [ "$(awk '{ print $4 }' "$stat" 2>/dev/null)" = "$program_pid" ]; then
        host_exe="$(readlink "${stat%/stat}/exe" 2>/dev/null || true)"
        [ "${host_exe##*/}" = dlhost ] && break
    fi
done
[ "$host_exe" = "$data/DownLoad/dlhost" ] || fail "the engine host runs from '$host_exe'"

# The template's controls lie below the tab bar, whose height depends on the font: each click
# lands 20 to 30 pixels into a control at least 40 high, right for any bar of 20 to 40.
printf '%s' "链接：https://pan.example.com/s/$share_id 提取码：ab12" |
    xclip -selection clipboard
xdotool mousemove --window "$window" 200 60 click 1 key ctrl+a ctrl+v
xdotool mousemove --window "$window" 688 60 click 1 # 解析
for _ in $(seq 100); do
    grep -q '数据.bin' "$data/test.txt" 2>/dev/null && break
    sleep 0.1
done
grep -q '数据.bin' "$data/test.txt" 2>/dev/null ||
    fail "the parse did not fill the list: $(cat "$work/program.out")"
# Into the list below its one row, to the row by keyboard, and "下载该文件" from its menu.
xdotool mousemove --window "$window" 300 300 click 1 key Home Menu
sleep 0.5
xdotool key Down Return
for _ in $(seq 300); do
    cmp -s "$work/shares/$share_id/数据.bin" "$downloads/数据.bin" && break
    sleep 0.1
done
cmp "$work/shares/$share_id/数据.bin" "$downloads/数据.bin" ||
    fail "the download did not land whole in $downloads: $(ls -la "$downloads")"

# pandrel-get as the same user, from the folder it saves into by default: the parse service
# comes from the pandrel.ini the window read, in the user's data folder.
[ ${#as_user[@]} -eq 0 ] || chown nobody "$work/fetched"
summary="$(cd "$work/fetched" && HOME="$home" XDG_DATA_HOME= XDG_CONFIG_HOME= "${as_user[@]}" \
    "$prefix/bin/pandrel-get" -q "链接：https://pan.example.com/s/$share_id 提取码：ab12")" ||
    fail "the installed pandrel-get failed"
[ "$summary" = "$(printf '1\t已完成\t数据.bin')" ] || fail "pandrel-get reports: $summary"
cmp "$work/shares/$share_id/数据.bin" "$work/fetched/数据.bin" || fail "pandrel-get's download differs"
echo "installed_files_test: passed"
