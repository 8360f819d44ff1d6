# The "hostile share" campaign of scripts/reliability, which sources this file and provides
# start_sim, stop_sim, run_dlget, make_file, sha, log, sanitizer_report and the work folder
# $work.
#
# A share, its listing page and every server a link points to come from strangers. Each row
# plays one attack and scores it in its own table:
#   poisoned        a file finished (or shown finished) with bytes that are not the server's
#   via links       a file outside the download folder changed through a planted link
#   disk exhausted  a claimed size took the disk's free space, or left reserved blocks or an
#                   empty working file behind
#   hangs           a case that ran past its time limit
# Window rows drive the real window offscreen (listing_driver); engine rows use dlget.
# HOSTILE_CASES (default 3) sets the cases of each row. Needs root for the loop-mounted ext4
# file system of the claimed-size row.

HOSTILE_CASES="${HOSTILE_CASES:-3}"
htable=()
hrow() { htable+=("$(printf '%-40s %6s %9s %9s %10s %10s %6s %8s  %s' "$@")"); }

# The honest and hostile files every row serves, in the shares of one share-sim root.
hostile_files() {
    local shares="$1"
    mkdir -p "$shares/Honest" "$shares/Hostile"
    echo abcd >"$shares/Honest/.code"
    echo abcd >"$shares/Hostile/.code"
    make_file "$shares/Honest/setup.bin" $((3 << 20))
    make_file "$shares/Honest/big.bin" $((16 << 20))
    make_file "$shares/Honest/small.bin" $((256 << 10))
    make_file "$shares/Hostile/setup.bin" $((3 << 20))
    make_file "$shares/Hostile/small.bin" $((256 << 10))
    # A progress record that claims every byte of a file of setup.bin's size: first version
    # (no link, no validator), so an engine that trusts records would finish from it.
    forge_record "$shares/Hostile/record.cfg" "$(stat -c %s "$shares/Honest/setup.bin")" 1 "" ""
}

# forge_record PATH TOTAL VERSION URL ETAG: a record claiming every byte done.
forge_record() {
    python3 - "$@" <<'EOF'
import struct, sys, zlib
path, total, version, url, etag = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
def text(t):
    b = t.encode()
    return struct.pack("<I", len(b)) + b
out = b"DLCF" + struct.pack("<I", version) + struct.pack("<q", total) + text(etag) + text("")
if version >= 2:
    out += text(url) + text("") + text("") + text("setup.bin")
out += struct.pack("<I", 0)
out += struct.pack("<I", zlib.crc32(out))
open(path, "wb").write(out)
EOF
}

# hostile_page KIND PATH BASE: a listing page whose rows name what the attack needs.
hostile_page() {
    python3 - "$@" <<'EOF'
import sys
kind, path, base = sys.argv[1], sys.argv[2], sys.argv[3]
def row(name, link):
    return ("<tr><td>" + name + "</td><td>1 KB</td><td><a target=\"_blank\" href=\"" + base +
            link + "\">点我下载</a></td></tr>\n").encode()
rows = {
    "poison": [("setup.bin.td", "/d/Hostile/setup.bin"),
               ("setup.bin.td.cfg", "/d/Hostile/record.cfg")],
    "honest": [("setup.bin", "/d/Honest/setup.bin")],
    "inflight": [("X.bin", "/d/Honest/big.bin"), ("X.bin.td", "/d/Hostile/small.bin")],
    "names": [("esc\x1b[31mred.bin", "/d/Hostile/small.bin"),
              ("line\nbreak.bin", "/d/Hostile/small.bin"),
              ("bell\x07.bin", "/d/Hostile/small.bin"),
              ("c1\u0085next.bin", "/d/Hostile/small.bin"),
              ("gpj.\u202eexe.txt", "/d/Hostile/small.bin"),
              ("\u2066iso\u2069late.bin", "/d/Hostile/small.bin"),
              ("\u202aembed.bin", "/d/Hostile/small.bin"),
              (".leading-dot.bin", "/d/Honest/small.bin"),
              ("-leading-dash.bin", "/d/Honest/small.bin")],
    "html": [("<font color=red size=7>病毒警告：请立即运行 setup.sh", "/d/Honest/small.bin"),
             ("<img src=x onerror=alert(1)>.png", "/d/Honest/small.bin"),
             ("<b>粗体</b>.txt", "/d/Honest/small.bin")],
}
with open(path, "wb") as out:
    out.write(b"<html><body><table><tbody>\n")
    if kind == "rows2m":
        out.write(b"<tr></tr>" * 2000000)
    else:
        for name, link in rows[kind]:
            out.write(row(name, link))
    out.write(b"</tbody></table></body></html>")
EOF
}

# Starts share-sim on the shares $1 answering every listing with a page of kind $2, written to
# $3 with links to share-sim's own address once it is known (share-sim reads the page anew for
# each query, and none comes before this returns).
hostile_sim() {
    : >"$3"
    start_sim --root "$1" --port 0 --rate 512K --page "$3" || return 1
    hostile_page "$2" "$3" "$SIM_URL"
}

# listing_driver in the program folder $1 against the parse service $2 ("-": start-up only),
# downloading $4 rows within $5 seconds, until every row has a state; the output lands in
# $3.out and $3.err, the exit code in RC.
hostile_window() {
    mkdir -p "$1"
    timeout -s KILL $(($5 + 120)) "$bin/listing_driver" "$1" "$2" "$4" "$5" every \
        >"$3.out" 2>"$3.err"
    RC=$?
}
value_of() { sed -n "s/^$1=//p" "$2" | head -1; }
window_broke() { [ "$RC" = 137 ] || [ "$RC" = 2 ] || [ "$RC" -gt 128 ] || sanitizer_report "$1.err"; }

# Runs HOSTILE_CASES window cases of a page of kind $2 from the shares $1, downloading $3 rows
# within $4 seconds, and adds the row $6 (note $7). The judge $5 is given each case's folder
# (the program's folder is its run/, the driver's output run.out) and prints "survived",
# "poisoned", or what went wrong.
hostile_window_row() {
    local shares="$1" kind="$2" rows="$3" seconds="$4" judge="$5" label="$6" note="$7"
    local tried=0 survived=0 poisoned=0 hangs=0 crashes=0 i dir verdict
    for i in $(seq 1 "$HOSTILE_CASES"); do
        dir="$work/hostile-$kind-$i"
        mkdir -p "$dir"
        hostile_sim "$shares" "$kind" "$dir/page" || return
        hostile_window "$dir/run" "$SIM_URL" "$dir/run" "$rows" "$seconds"
        stop_sim
        tried=$((tried + 1))
        verdict="$("$judge" "$dir")"
        if [ "$verdict" = poisoned ]; then
            poisoned=$((poisoned + 1))
            log "hostile: $dir: a file holds other bytes than its server's"
        elif window_broke "$dir/run"; then
            if [ $RC = 137 ] || [ $RC = 2 ]; then
                hangs=$((hangs + 1))
            else
                crashes=$((crashes + 1))
            fi
        elif [ "$verdict" = survived ]; then
            survived=$((survived + 1))
        else
            log "hostile: $dir: $verdict"
        fi
    done
    hrow "$label" $tried $survived $poisoned 0 0 $hangs $crashes "$note"
}

# A server for what share-sim does not do, by the first part of the path: /ranged/ and /whole/
# claim 1 TiB (in a Content-Range, in a Content-Length) and send 1 KiB; /body/ sends its body,
# /head/ its head itself, one byte a second for ten minutes.
start_hostile_server() {
    start_python_server <<'EOF'
import http.server, socketserver, time
TIB = 1 << 40
class H(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *a): pass
    def claim(self):
        if self.path.startswith("/ranged/") and self.headers.get("Range"):
            self.send_response(206)
            self.send_header("Content-Range", "bytes 0-1023/%d" % TIB)
        else:
            self.send_response(200)
        self.send_header("Content-Length", str(TIB if self.path.startswith("/whole/") else 1024))
        self.send_header("ETag", '"huge"')
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(b"x" * 1024)
    def trickle(self):
        if self.path.startswith("/head/"):
            data = b"HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\nX-Slow: " + b"s" * 600
        else:
            self.send_response(200)
            self.send_header("Content-Length", "1048576")
            self.end_headers()
            data = b"b" * 600
        for byte in data:
            self.wfile.write(bytes([byte]))
            self.wfile.flush()
            time.sleep(1)
    def do_GET(self):
        try:
            if self.path.startswith(("/ranged/", "/whole/")):
                self.claim()
            else:
                self.trickle()
        except OSError:
            pass
        self.close_connection = True
class S(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
s = S(("127.0.0.1", 0), H)
print("hostile listening on 127.0.0.1:%d" % s.server_address[1], flush=True)
s.serve_forever()
EOF
    HOSTILE_PID=$PY_PID
    HOSTILE_URL=$PY_URL
}

# ---- the poisoning pair ----------------------------------------------------------------------
# A hostile share lists setup.bin.td and setup.bin.td.cfg (the bytes of another file, and a
# record claiming every byte); then setup.bin is downloaded from an honest share. Also with
# the pair planted in the folder beforehand (as a share could before names were checked).
hostile_poisoning() {
    local shares="$1" want tried=0 survived=0 poisoned=0 hangs=0 crashes=0 i dir first
    want="$(sha "$shares/Honest/setup.bin")"
    for i in $(seq 1 "$HOSTILE_CASES"); do
        dir="$work/hostile-poison-$i"
        mkdir -p "$dir"
        hostile_sim "$shares" poison "$dir/hostile.page" || return
        hostile_window "$dir/run" "$SIM_URL" "$dir/hostile" 2 60
        first=$RC
        stop_sim
        # Then the honest share, in the same program folder.
        hostile_sim "$shares" honest "$dir/honest.page" || return
        hostile_window "$dir/run" "$SIM_URL" "$dir/honest" 1 120
        stop_sim
        tried=$((tried + 1))
        local final="$dir/run/下载目录/setup.bin"
        if [ -e "$final" ] && [ "$(sha "$final")" != "$want" ]; then
            poisoned=$((poisoned + 1))
            log "hostile: $dir: setup.bin holds other bytes than the honest share's"
        elif [ $first = 137 ] || [ $RC = 137 ] || [ $first = 2 ] || [ $RC = 2 ]; then
            hangs=$((hangs + 1))
        elif [ $first -gt 128 ] || [ $RC -gt 128 ] || sanitizer_report "$dir/hostile.err" ||
            sanitizer_report "$dir/honest.err"; then
            crashes=$((crashes + 1))
        elif grep -q '^task=setup.bin.td|下载失败$' "$dir/hostile.out" &&
            grep -q '^task=setup.bin.td.cfg|下载失败$' "$dir/hostile.out" &&
            grep -q '^task=setup.bin|已完成$' "$dir/honest.out"; then
            survived=$((survived + 1))
        else
            log "hostile: $dir: $(grep -h '^task=' "$dir/hostile.out" "$dir/honest.out" | tr '\n' ' ')"
        fi
    done
    hrow "poisoning pair (window)" $tried $survived $poisoned 0 0 $hangs $crashes \
        "working names refused (下载失败), then setup.bin 已完成"
    hostile_planted_pair "$shares"
}

hostile_planted_pair() {
    local shares="$1" want tried=0 survived=0 poisoned=0 hangs=0 crashes=0 i dir variant
    want="$(sha "$shares/Honest/setup.bin")"
    local size
    size="$(stat -c %s "$shares/Honest/setup.bin")"
    start_sim --root "$shares" --port 0 --rate 512K || return
    for i in $(seq 1 "$HOSTILE_CASES"); do
        for variant in first-version other-link other-link-etag; do
            dir="$work/hostile-planted-$variant-$i"
            mkdir -p "$dir/dl"
            cp "$shares/Hostile/setup.bin" "$dir/dl/setup.bin.td"
            case $variant in
            first-version) forge_record "$dir/dl/setup.bin.td.cfg" "$size" 1 "" "" ;;
            other-link) forge_record "$dir/dl/setup.bin.td.cfg" "$size" 2 \
                "$SIM_URL/d/Hostile/setup.bin" "" ;;
            other-link-etag) forge_record "$dir/dl/setup.bin.td.cfg" "$size" 2 \
                "$SIM_URL/d/Hostile/setup.bin" '"hostile"' ;;
            esac
            run_dlget "$dir" 120 -o setup.bin "$SIM_URL/d/Honest/setup.bin" -d "$dir/dl"
            tried=$((tried + 1))
            if [ -e "$dir/dl/setup.bin" ] && [ "$(sha "$dir/dl/setup.bin")" != "$want" ]; then
                poisoned=$((poisoned + 1))
                log "hostile: $dir: finished over the planted bytes"
            elif [ $RC = 137 ]; then
                hangs=$((hangs + 1))
            elif [ $RC -gt 128 ] || sanitizer_report "$dir/err"; then
                crashes=$((crashes + 1))
            elif [ $RC = 0 ]; then
                survived=$((survived + 1))
            else
                log "hostile: $dir: dlget failed with $RC"
            fi
        done
    done
    stop_sim
    hrow "poisoning pair, planted in the folder" $tried $survived $poisoned 0 0 $hangs $crashes \
        "first-version record, other link, other link's ETag"
}

# ---- the in-flight variant --------------------------------------------------------------------
# X.bin.td asked for while X.bin downloads (window), and a working file swapped for another
# file while its download runs (dlget): X.bin must end as the honest file or not at all.
judge_inflight() {
    local final="$1/run/下载目录/X.bin"
    if [ -e "$final" ] && [ "$(sha "$final")" != "$(sha "$HOSTILE_SHARES/Honest/big.bin")" ]; then
        echo poisoned
    elif grep -q '^task=X.bin|已完成$' "$1/run.out" &&
        grep -q '^task=X.bin.td|下载失败$' "$1/run.out"; then
        echo survived
    else
        grep '^task=' "$1/run.out" | tr '\n' ' '
    fi
}

hostile_inflight() {
    hostile_window_row "$1" inflight 2 180 judge_inflight \
        "in flight: X.bin.td while X.bin runs" "X.bin.td 下载失败, X.bin 已完成"
}

hostile_swapped() {
    local shares="$1" want tried=0 survived=0 poisoned=0 hangs=0 crashes=0 i dir
    want="$(sha "$shares/Honest/big.bin")"
    start_sim --root "$shares" --port 0 --rate 256K || return
    for i in $(seq 1 "$HOSTILE_CASES"); do
        dir="$work/hostile-swap-$i"
        mkdir -p "$dir/dl"
        "$bin/dlget" -q -o X.bin "$SIM_URL/d/Honest/big.bin" -d "$dir/dl" >"$dir/out" \
            2>"$dir/err" &
        local pid=$!
        sleep "1.$((RANDOM % 9))"
        cp "$shares/Hostile/small.bin" "$dir/swap"
        mv -f "$dir/swap" "$dir/dl/X.bin.td"
        local waited=0
        while kill -0 $pid 2>/dev/null && [ $waited -lt 120 ]; do sleep 1; waited=$((waited + 1)); done
        kill -9 $pid 2>/dev/null
        wait $pid
        RC=$?
        # Started again, the download must still end as the honest file.
        local second=0
        if [ $RC != 137 ]; then
            timeout -s KILL 120 "$bin/dlget" -q -o X.bin "$SIM_URL/d/Honest/big.bin" \
                -d "$dir/dl" >>"$dir/out" 2>>"$dir/err"
            second=$?
        fi
        tried=$((tried + 1))
        if [ -e "$dir/dl/X.bin" ] && [ "$(sha "$dir/dl/X.bin")" != "$want" ]; then
            poisoned=$((poisoned + 1))
            log "hostile: $dir: X.bin holds the swapped bytes"
        elif [ $RC = 137 ] || [ $second = 137 ]; then
            hangs=$((hangs + 1))
        elif [ $RC -gt 128 ] || sanitizer_report "$dir/err"; then
            crashes=$((crashes + 1))
        elif [ $RC = 3 ] && [ $second = 0 ]; then
            survived=$((survived + 1))
        else
            log "hostile: $dir: swap gave rc $RC, the next run $second"
        fi
    done
    stop_sim
    hrow "in flight: working file swapped" $tried $survived $poisoned 0 0 $hangs $crashes \
        "fail_code 3, then the honest file"
}

# ---- planted links ------------------------------------------------------------------------------
# A link to a file outside the folder under every working name and the final name.
hostile_links() {
    local shares="$1" want tried=0 survived=0 poisoned=0 through=0 hangs=0 crashes=0 i dir
    local suffix expect
    want="$(sha "$shares/Honest/small.bin")"
    start_sim --root "$shares" --port 0 || return
    for i in $(seq 1 "$HOSTILE_CASES"); do
        for suffix in .td .td.cfg .td.cfg.tmp ""; do
            dir="$work/hostile-link$suffix-$i"
            mkdir -p "$dir/dl"
            echo "another user's file" >"$dir/victim"
            ln -s "$dir/victim" "$dir/dl/out.bin$suffix"
            expect=0
            [ "$suffix" = .td ] && expect=3
            run_dlget "$dir" 120 -o out.bin "$SIM_URL/d/Honest/small.bin" -d "$dir/dl"
            tried=$((tried + 1))
            if [ "$(cat "$dir/victim")" != "another user's file" ]; then
                through=$((through + 1))
                log "hostile: $dir: written through the link out.bin$suffix"
            elif [ -e "$dir/dl/out.bin" ] && { [ -L "$dir/dl/out.bin" ] ||
                [ "$(sha "$dir/dl/out.bin")" != "$want" ]; }; then
                poisoned=$((poisoned + 1))
                log "hostile: $dir: out.bin is a link or holds other bytes"
            elif [ $RC = 137 ]; then
                hangs=$((hangs + 1))
            elif [ $RC -gt 128 ] || sanitizer_report "$dir/err"; then
                crashes=$((crashes + 1))
            elif [ $RC = $expect ]; then
                survived=$((survived + 1))
            else
                log "hostile: $dir: rc $RC, expected $expect"
            fi
        done
    done
    stop_sim
    hrow "planted links, every working name" $tried $survived $poisoned $through 0 $hangs \
        $crashes "link as .td: fail_code 3; elsewhere: replaced"
}

# ---- a claimed size of 1 TiB ------------------------------------------------------------------
# A server whose answers claim 1 TiB, against a small ext4 file system on a loop device (tmpfs
# would refuse such a reservation whole and hide the fault).
free_bytes() { echo $(($(stat -f -c '%a' "$1") * $(stat -f -c '%S' "$1"))); }

hostile_claimed_size() {
    local shares="$1" mnt="$work/ext4/mnt" img="$work/ext4/disk.img"
    local tried=0 survived=0 exhausted=0 hangs=0 crashes=0 i kind before after
    mkdir -p "$mnt"
    if [ "$(id -u)" != 0 ]; then
        hrow "1 TiB claimed, 256 MiB ext4" - - - - - - - "not run: needs root"
        return
    fi
    command -v mkfs.ext4 >/dev/null ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q e2fsprogs >"$work/apt.log" 2>&1
    truncate -s 256M "$img"
    if ! mkfs.ext4 -q -F "$img" >"$work/ext4/mkfs.log" 2>&1 ||
        ! mount -o loop "$img" "$mnt" 2>"$work/ext4/mount.err"; then
        hrow "1 TiB claimed, 256 MiB ext4" - - - - - - - \
            "not run: $(head -c 60 "$work/ext4/mount.err" "$work/ext4/mkfs.log" | tr '\n' ' ')"
        return
    fi
    start_hostile_server
    start_sim --root "$shares" --port 0 || return
    local want
    want="$(sha "$shares/Honest/big.bin")"
    for i in $(seq 1 "$HOSTILE_CASES"); do
        for kind in ranged whole; do
            rm -rf "${mnt:?}/dl"
            mkdir -p "$mnt/dl"
            sync
            before=$(free_bytes "$mnt")
            DLENGINE_TEST_TIMEOUTS=2,2,50,2 run_dlget "$work/ext4" 120 -o huge.bin \
                "$HOSTILE_URL/$kind/huge.bin" -d "$mnt/dl"
            sync
            after=$(free_bytes "$mnt")
            tried=$((tried + 1))
            # A few blocks of the file system's own may come and go; a reservation is far more.
            if [ $((before - after)) -gt $((4 << 20)) ] || [ -n "$(ls -A "$mnt/dl")" ]; then
                exhausted=$((exhausted + 1))
                log "hostile: $kind: $(((before - after) >> 20)) MiB taken, left: $(ls -A "$mnt/dl")"
            elif [ $RC = 137 ]; then
                hangs=$((hangs + 1))
            elif [ $RC -gt 128 ] || sanitizer_report "$work/ext4/err"; then
                crashes=$((crashes + 1))
            elif [ $RC = 3 ]; then
                # The same disk still takes a file that fits.
                timeout -s KILL 120 "$bin/dlget" -q "$SIM_URL/d/Honest/big.bin" -d "$mnt/dl" \
                    >"$work/ext4/out" 2>>"$work/ext4/err"
                if [ $? = 0 ] && [ "$(sha "$mnt/dl/big.bin")" = "$want" ]; then
                    survived=$((survived + 1))
                else
                    log "hostile: $kind: a 16 MiB file did not fit after the refusal"
                fi
            else
                log "hostile: $kind: dlget gave $RC, not fail_code 3"
            fi
        done
    done
    stop_sim
    kill "$HOSTILE_PID" 2>/dev/null
    umount "$mnt"
    hrow "1 TiB claimed, 256 MiB ext4" $tried $survived 0 0 $exhausted $hangs $crashes \
        "206 and 200 claims: fail_code 3 at once, then 16 MiB fits"
}

# ---- names ---------------------------------------------------------------------------------------
# Control and bidi characters make a name unsafe (下载失败); leading dots and dashes do not.
judge_names() {
    # Names saved with a control or bidi character, by Python's reading of them.
    local bad
    bad=$(python3 - "$1/run/下载目录" <<'EOF'
import os, sys, unicodedata
names = os.listdir(os.fsencode(sys.argv[1])) if os.path.isdir(sys.argv[1]) else []
bad = [n for n in names
       if any(unicodedata.category(c) == "Cc" or 0x202A <= ord(c) <= 0x202E or
              0x2066 <= ord(c) <= 0x2069 for c in os.fsdecode(n))]
print(len(bad))
EOF
)
    if [ "$bad" = 0 ] && [ "$(grep -c '|下载失败$' "$1/run.out")" = 7 ] &&
        grep -q '^task=.leading-dot.bin|已完成$' "$1/run.out" &&
        grep -q '^task=-leading-dash.bin|已完成$' "$1/run.out"; then
        echo survived
    else
        echo "$bad unsafe names saved; $(grep '^task=' "$1/run.out" | tr '\n' ' ')"
    fi
}

hostile_names() {
    hostile_window_row "$1" names 9 120 judge_names "control and bidi names (window)" \
        "7 refused (下载失败), leading dot and dash saved"
}

# ---- a server that sends one byte a second -------------------------------------------------------
hostile_trickle() {
    local tried=0 survived=0 hangs=0 crashes=0 i dir kind started took longest=0
    start_hostile_server
    for i in $(seq 1 "$HOSTILE_CASES"); do
        for kind in body head; do
            dir="$work/hostile-trickle-$kind-$i"
            mkdir -p "$dir/dl"
            started=$SECONDS
            # 30 s cut to 3 s by the test hook; ten tries then end the download.
            DLENGINE_TEST_TIMEOUTS=2,3,50,3 run_dlget "$dir" 240 -o slow.bin \
                "$HOSTILE_URL/$kind/slow.bin" -d "$dir/dl"
            took=$((SECONDS - started))
            [ $took -gt $longest ] && longest=$took
            tried=$((tried + 1))
            if [ $RC = 137 ]; then
                hangs=$((hangs + 1))
                log "hostile: $dir: still running after 240 s"
            elif [ $RC -gt 128 ] || sanitizer_report "$dir/err"; then
                crashes=$((crashes + 1))
            elif [ $RC = 1 ] && [ -z "$(ls -A "$dir/dl")" ]; then
                survived=$((survived + 1))
            else
                log "hostile: $dir: rc $RC, left: $(ls -A "$dir/dl")"
            fi
        done
    done
    kill "$HOSTILE_PID" 2>/dev/null
    hrow "one byte a second (body, head)" $tried $survived 0 0 0 $hangs $crashes \
        "30 s cut to 3 s by test hook; fail_code 1 after ${longest} s at most"
}

# ---- the listing side: 2,000,000 empty rows and HTML names ---------------------------------------
# A parse of a page of 2,000,000 empty rows (18 MB), and a start-up restoring such a record,
# must neither hold up the window (2 s at most) nor grow the program by more than 256 MiB: the
# parse ends in "解析失败：文件列表过大", the restore with an empty list.
hostile_huge_listing() {
    local shares="$1" tried=0 survived=0 hangs=0 crashes=0 dir kind stall grow startup status
    local note=""
    dir="$work/hostile-rows2m"
    mkdir -p "$dir/restore"
    hostile_sim "$shares" rows2m "$dir/page" || return
    # The same rows as a record file: what a parse of them would have saved.
    python3 -c 'import sys; sys.stdout.buffer.write(b"\n" + b"<tr></tr>" * 2000000)' \
        >"$dir/restore/test.txt"
    for kind in parse restore; do
        tried=$((tried + 1))
        if [ $kind = parse ]; then
            hostile_window "$dir/parse" "$SIM_URL" "$dir/parse" 0 300
        else
            hostile_window "$dir/restore" - "$dir/restore" 0 300
        fi
        status="$(value_of status "$dir/$kind.out")"
        stall="$(value_of longest_stall_ms "$dir/$kind.out")"
        startup="$(value_of startup_ms "$dir/$kind.out")"
        grow=$(($(value_of peak_rss_mib "$dir/$kind.out") - $(value_of base_rss_mib "$dir/$kind.out")))
        if [ $kind = parse ]; then
            note="${note}parse: held ${stall:-?} ms, +$grow MiB; "
        else
            note="${note}restore: start-up ${startup:-?} ms, +$grow MiB"
        fi
        if window_broke "$dir/$kind"; then
            [ $RC = 137 ] || [ $RC = 2 ] && hangs=$((hangs + 1)) || crashes=$((crashes + 1))
        elif { [[ "$status" == *文件列表过大* ]] ||
            { [ $kind = restore ] && [ "$(value_of rows "$dir/$kind.out")" = 0 ]; }; } &&
            [ "${stall:-99999}" -le 2000 ] && [ "${startup:-99999}" -le 2000 ] &&
            [ $grow -le 256 ]; then
            survived=$((survived + 1))
        else
            log "hostile: 2,000,000 rows, $kind: status '$status', $(value_of rows "$dir/$kind.out") rows, start-up $startup ms, longest stall $stall ms, +$grow MiB"
        fi
    done
    stop_sim
    hrow "2,000,000 empty rows (parse, restore)" $tried $survived 0 0 0 $hangs $crashes "$note"
}

judge_html() {
    if [ "$(value_of rich_labels "$1/run.out")" = 0 ] &&
        grep -qxF 'file=<font color=red size=7>病毒警告：请立即运行 setup.sh' "$1/run.out" &&
        grep -qxF 'file=<img src=x onerror=alert(1)>.png' "$1/run.out" &&
        grep -qxF 'file=<b>粗体</b>.txt' "$1/run.out"; then
        echo survived
    else
        echo "$(value_of rich_labels "$1/run.out") labels showed rich text;" \
            "$(grep '^file=' "$1/run.out" | tr '\n' ' ')"
    fi
}

hostile_html_names() {
    hostile_window_row "$1" html 3 120 judge_html "HTML names (window)" \
        "names shown as written, no label as rich text"
}

campaign_hostile() {
    local shares="$work/shares-hostile"
    HOSTILE_SHARES="$shares"
    hostile_files "$shares"
    hostile_poisoning "$shares"
    hostile_inflight "$shares"
    hostile_swapped "$shares"
    hostile_links "$shares"
    hostile_claimed_size "$shares"
    hostile_names "$shares"
    hostile_trickle
    hostile_huge_listing "$shares"
    hostile_html_names "$shares"
    [ "${KEEP:-0}" = 1 ] || rm -rf "$shares"
}

print_hostile_table() {
    [ ${#htable[@]} -gt 0 ] || return 0
    echo
    printf '%-40s %6s %9s %9s %10s %10s %6s %8s  %s\n' "hostile share" tried survived poisoned \
        "via links" "disk full" hangs crashes note
    printf '%s\n' "${htable[@]}"
}
