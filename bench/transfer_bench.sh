#!/usr/bin/env bash
# The parallel transfers against curl, on the same files in the same run, served by nginx on
# 127.0.0.1 (a server that is not the bottleneck). The program flushes every body to disk
# before its rename; curl does not, so curl is timed without and with a flush of its files:
#   1. one file of 1 GiB: curl -o, then one Downloader, then the single connection (Inet
#      alone and the download window's transfer); times and the program's memory;
#   2. six files of 256 MiB at once: six curl at once, then six Downloaders, with the
#      lateness of a 10 ms timer on the program's user-interface thread;
#   3. (mode "scheduler") 600 files of 100 KB through the download window, gap 0, six slots,
#      on the window's own one-second timers, against the scheduler's bound of one tick a
#      second filling every free slot; six curl at a time on the same files for comparison.
# Needs about 3.5 GiB free under TMPDIR (60 MB for "scheduler" alone). Installs nginx from
# Debian when it is missing.
#
#   bench/transfer_bench.sh [build folder] [transfer|scheduler|all]
#                           (default: build, transfer)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
MODE=${2:-transfer}
case "$MODE" in
transfer | scheduler | all) ;;
*) echo "unknown mode: $MODE (transfer, scheduler or all)" >&2; exit 2 ;;
esac
want() { [ "$MODE" = all ] || [ "$MODE" = "$1" ]; }
BENCH=$BUILD/bench/bench_transfer
SINGLE=$BUILD/bench/bench_single
SCHEDULER_BENCH=$BUILD/bench/bench_scheduler
want transfer && cmake --build "$BUILD" --target bench_transfer bench_single >/dev/null
want scheduler && cmake --build "$BUILD" --target bench_scheduler >/dev/null
SMALL_FILES=600
SMALL_SIZE=102400
# The download window of the single-connection figure holds an embedded browser: headless.
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1

NGINX=$(command -v nginx || true)
[ -n "$NGINX" ] || [ ! -x /usr/sbin/nginx ] || NGINX=/usr/sbin/nginx
if [ -z "$NGINX" ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get install -y --no-install-recommends nginx-light || $SUDO apt-get install -y nginx
    NGINX=$(command -v nginx || echo /usr/sbin/nginx)
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillfetch-transfer-bench-XXXXXX")
NGINX_PID=""
cleanup() {
    if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
# nginx's workers may run as another user: they must reach the files.
chmod 755 "$WORK"
mkdir -p "$WORK/www" "$WORK/out" "$WORK/logs" "$WORK/temp"

echo "making the files..."
if want transfer; then
    dd if=/dev/urandom of="$WORK/www/big.pdf" bs=1M count=1024 status=none
    dd if=/dev/urandom of="$WORK/www/part1.pdf" bs=1M count=256 status=none
    for i in 2 3 4 5 6; do ln "$WORK/www/part1.pdf" "$WORK/www/part$i.pdf"; done
    chmod 644 "$WORK"/www/*.pdf
fi
if want scheduler; then
    mkdir -p "$WORK/www/small"
    for i in $(seq -f %04g "$SMALL_FILES"); do
        head -c "$SMALL_SIZE" /dev/urandom >"$WORK/www/small/s$i.pdf"
    done
    chmod 755 "$WORK/www/small"
    chmod 644 "$WORK"/www/small/*
fi

# The served files go to the disk now, not in the background while the transfers are timed.
sync
PORT=""
for _ in $(seq 50); do
    candidate=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
        PORT=$candidate
        break
    fi
done
[ -n "$PORT" ] || { echo "no free port found" >&2; exit 1; }

cat >"$WORK/nginx.conf" <<EOF
worker_processes 2;
daemon off;
pid $WORK/nginx.pid;
error_log $WORK/logs/error.log warn;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $WORK/temp/body;
    proxy_temp_path $WORK/temp/proxy;
    fastcgi_temp_path $WORK/temp/fastcgi;
    uwsgi_temp_path $WORK/temp/uwsgi;
    scgi_temp_path $WORK/temp/scgi;
    types { application/pdf pdf; }
    server {
        listen 127.0.0.1:$PORT;
        root $WORK/www;
    }
}
EOF
"$NGINX" -p "$WORK" -c "$WORK/nginx.conf" &
NGINX_PID=$!
for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$PORT/" && break
    sleep 0.1
done
BASE="http://127.0.0.1:$PORT"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
check() { cmp -s "$1" "$2" || { echo "MISMATCH: $2 differs from $1" >&2; exit 1; }; }

if want transfer; then
    echo
    echo "== one file of 1 GiB =="
    for round in 1 2; do
        start=$(now)
        curl -s -o "$WORK/out/curl-big.pdf" "$BASE/big.pdf"
        end=$(now)
        sync "$WORK/out/curl-big.pdf"
        synced=$(now)
        check "$WORK/www/big.pdf" "$WORK/out/curl-big.pdf"
        rm -f "$WORK/out/curl-big.pdf"
        echo "round $round: curl -o: $(elapsed "$start" "$end") s; with its flush" \
            "(sync FILE, the program's own rule): $(elapsed "$start" "$synced") s"
        start=$(now)
        dd if="$WORK/www/big.pdf" of="$WORK/out/dd-big.pdf" bs=1M conv=fdatasync status=none
        echo "round $round: the disk alone (dd conv=fdatasync): $(elapsed "$start" "$(now)") s"
        rm -f "$WORK/out/dd-big.pdf"
        "$BENCH" "$WORK/out" "$BASE/big.pdf" | sed "s/^/round $round: program: /"
        check "$WORK/www/big.pdf" "$WORK/out/1-big.pdf"
        rm -f "$WORK/out/1-big.pdf"
        "$SINGLE" "$BASE/big.pdf" "$WORK/out/single" 2>"$WORK/logs/single.err" |
            sed "s/^/round $round: single connection: /"
        check "$WORK/www/big.pdf" "$(ls "$WORK"/out/single/window*)"
        rm -rf "$WORK/out/single"
    done

    echo
    echo "== six files of 256 MiB at once =="
    links=()
    for i in 1 2 3 4 5 6; do links+=("$BASE/part$i.pdf"); done
    for round in 1 2; do
        start=$(now)
        pids=()
        for i in 1 2 3 4 5 6; do
            curl -s -o "$WORK/out/curl-part$i.pdf" "$BASE/part$i.pdf" &
            pids+=($!)
        done
        wait "${pids[@]}"
        end=$(now)
        sync "$WORK"/out/curl-part*.pdf
        synced=$(now)
        for i in 1 2 3 4 5 6; do check "$WORK/www/part1.pdf" "$WORK/out/curl-part$i.pdf"; done
        rm -f "$WORK"/out/curl-part*.pdf
        echo "round $round: six curl -o at once: $(elapsed "$start" "$end") s; with their" \
            "flush: $(elapsed "$start" "$synced") s"
        # What the disk alone takes for the same bytes, flushed, with no network involved.
        start=$(now)
        pids=()
        for i in 1 2 3 4 5 6; do
            dd if="$WORK/www/part$i.pdf" of="$WORK/out/dd-part$i.pdf" bs=1M conv=fdatasync \
                status=none &
            pids+=($!)
        done
        wait "${pids[@]}"
        echo "round $round: the disk alone (six dd conv=fdatasync at once): $(elapsed "$start" "$(now)") s"
        rm -f "$WORK"/out/dd-part*.pdf
        "$BENCH" "$WORK/out" "${links[@]}" | sed "s/^/round $round: program: /"
        for i in 1 2 3 4 5 6; do check "$WORK/www/part1.pdf" "$WORK/out/$i-part$i.pdf"; done
        rm -f "$WORK"/out/*-part*.pdf
    done
fi

if want scheduler; then
    echo
    echo "== $SMALL_FILES files of $SMALL_SIZE bytes through the download window, six slots =="
    start=$(now)
    seq -f "$BASE/small/s%04g.pdf" "$SMALL_FILES" |
        xargs -P 6 -n 20 sh -c 'cd "$0" && curl -s --remote-name-all "$@"' "$WORK/out"
    end=$(now)
    for i in $(seq -f %04g "$SMALL_FILES"); do
        check "$WORK/www/small/s$i.pdf" "$WORK/out/s$i.pdf"
    done
    rm -f "$WORK"/out/s*.pdf
    echo "curl, six at a time: $(elapsed "$start" "$end") s"
    mkdir -p "$WORK/out/window"
    "$SCHEDULER_BENCH" "$WORK/out/window" "$BASE/small/s" "$SMALL_FILES" 6 \
        2>"$WORK/logs/scheduler.err"
    for i in $(seq -f %04g "$SMALL_FILES"); do
        check "$WORK/www/small/s$i.pdf" "$WORK/out/window/$i.pdf"
    done
    echo "all $SMALL_FILES files match the served ones"
fi
