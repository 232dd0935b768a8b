#!/usr/bin/env bash
# One 1 GiB file through the single-connection transfer and through curl -o, both from nginx
# on 127.0.0.1 in the same run. Installs nginx from Debian when it is missing (only here,
# never for the tests). Usage: bench/bench_single.sh [size in MiB, default 1024]
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

size_mib=${1:-1024}

if ! command -v nginx >/dev/null 2>&1 && [ ! -x /usr/sbin/nginx ]; then
    echo "Installing nginx for the benchmark"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nginx-light ||
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nginx
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

qf_build bench_single >/dev/null

work=$(mktemp -d)
cleanup() {
    [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www" "$work/out" "$work/logs"
# nginx's workers read the file as an unprivileged user.
chmod 755 "$work" "$work/www"
# Real bytes, not a sparse file: the page cache then holds what both clients read.
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/www/big.bin"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $work/logs;
    proxy_temp_path $work/logs;
    fastcgi_temp_path $work/logs;
    uwsgi_temp_path $work/logs;
    scgi_temp_path $work/logs;
    types { application/octet-stream bin; }
    server {
        listen 127.0.0.1:$port;
        root $work/www;
    }
}
CONF
"$nginx_bin" -p "$work" -c "$work/nginx.conf"
for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$port/big.bin" -r 0-0 && break
    sleep 0.1
done
url="http://127.0.0.1:$port/big.bin"

echo "file: $size_mib MiB from nginx on 127.0.0.1"
# Warm the page cache so the first client does not pay for the disk.
cat "$work/www/big.bin" >/dev/null
curl_time=$(curl -s -f -o "$work/out/curl.bin" -w '%{time_total}' "$url")
if [ "$(stat -c %s "$work/out/curl.bin")" -ne "$((size_mib * 1024 * 1024))" ]; then
    echo "curl did not get the whole file; nginx said:" >&2
    cat "$work/logs/error.log" >&2
    exit 1
fi
awk -v t="$curl_time" -v m="$size_mib" \
    'BEGIN { printf "%-34s %8.2f s  %8.1f MiB/s\n", "curl -o", t, m / t }'
rm -f "$work/out/curl.bin"
# The download window holds an embedded browser (its login panel), run headless.
qf_browser_environment
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
# The browser engine's start-up chatter goes to a log, shown only when the run fails.
if ! "$QF_BUILD/bench/bench_single" "$url" "$work/out" 2>"$work/logs/bench.err"; then
    cat "$work/logs/bench.err" >&2
    exit 1
fi
