# shellcheck shell=bash
# Checks shared by the install test and the package check: an installed tree is complete, its
# menu and software-centre entries pass the desktop's own validators, and the installed program
# starts. Sourced, not run.

qf_fail() {
    echo "FAIL: $*" >&2
    exit 1
}

qf_require_file() {
    if [ ! -f "$1" ] || [ ! -s "$1" ]; then
        qf_fail "missing or empty: $1"
    fi
}

# The width and height a PNG file declares in its header, as "W H".
qf_png_size() {
    local bytes
    bytes=$(od -An -tu1 -N24 "$1" | tr -s ' \n' ' ')
    # shellcheck disable=SC2086
    set -- $bytes
    [ "$1 $2 $3 $4" = "137 80 78 71" ] || { echo "not-a-png"; return; }
    shift 16
    echo "$((($1 << 24) | ($2 << 16) | ($3 << 8) | $4)) $((($5 << 24) | ($6 << 16) | ($7 << 8) | $8))"
}

# The value of `key` in the [Desktop Entry] group of a desktop file.
qf_desktop_value() {
    sed -n "s/^$2=//p" "$1" | head -n 1
}

# qf_check_tree ROOT PREFIX VERSION SOURCE_DIR: the files an installation under PREFIX puts below
# ROOT (a DESTDIR or an unpacked package).
qf_check_tree() {
    local root=$1 prefix=$2 version=$3 source_dir=$4
    local base="$root$prefix"
    local bin="$base/bin/quillfetch"
    local desktop="$base/share/applications/quillfetch.desktop"
    local svg="$base/share/icons/hicolor/scalable/apps/quillfetch.svg"
    local png="$base/share/icons/hicolor/256x256/apps/quillfetch.png"
    local metainfo="$base/share/metainfo/io.github.quillfetch.quillfetch.metainfo.xml"
    local copyright="$base/share/doc/quillfetch/copyright"
    local changelog="$base/share/doc/quillfetch/changelog.gz"
    local manpage="$base/share/man/man1/quillfetch.1.gz"

    [ -x "$bin" ] || qf_fail "no executable at $bin"
    for f in "$desktop" "$svg" "$png" "$metainfo" "$copyright" "$changelog" "$manpage"; do
        qf_require_file "$f"
    done

    # Nothing the loader resolves may point back into the tree the program was built in.
    if readelf -d "$bin" | grep -Eq '\((RPATH|RUNPATH)\)'; then
        qf_fail "the installed executable carries a library search path: $(readelf -d "$bin" | grep -E 'RPATH|RUNPATH')"
    fi

    cmp -s "$svg" "$source_dir/resources/quillfetch.svg" || qf_fail "the scalable icon is not the program's drawing"
    [ "$(qf_png_size "$png")" = "256 256" ] || qf_fail "the PNG icon is $(qf_png_size "$png"), not 256 by 256"

    local key expected
    while IFS='|' read -r key expected; do
        [ "$(qf_desktop_value "$desktop" "$key")" = "$expected" ] ||
            qf_fail "desktop entry $key is '$(qf_desktop_value "$desktop" "$key")', not '$expected'"
    done <<'ROWS'
Type|Application
Name|Quillfetch
Exec|quillfetch
Icon|quillfetch
Categories|Education;Science;Network;
Terminal|false
ROWS
    for key in 'Name\[zh_CN\]' 'Comment' 'Comment\[zh_CN\]'; do
        [ -n "$(qf_desktop_value "$desktop" "$key")" ] || qf_fail "the desktop entry has no $key"
    done
    desktop-file-validate "$desktop" || qf_fail "desktop-file-validate rejects $desktop"

    grep -q "<release version=\"$version\"" "$metainfo" || qf_fail "the metainfo does not name release $version"
    grep -q '<project_license>GPL-3.0-or-later</project_license>' "$metainfo" || qf_fail "the metainfo names another licence"
    grep -q '<launchable type="desktop-id">quillfetch.desktop</launchable>' "$metainfo" ||
        qf_fail "the metainfo does not launch the installed desktop entry"
    grep -q '<summary xml:lang="zh_CN">' "$metainfo" || qf_fail "the metainfo has no Chinese summary"
    appstreamcli validate --no-net "$metainfo" || qf_fail "appstreamcli rejects $metainfo"
    appstreamcli validate-tree --no-net "$root" || qf_fail "appstreamcli rejects the installed tree"

    grep -q '^License: GPL-3.0-or-later$' "$copyright" || qf_fail "the copyright file names another licence"
    grep -Eq '^Copyright: [0-9]{4} ' "$copyright" || qf_fail "the copyright file has no notice with a year"
    zcat "$changelog" | head -n 1 | grep -q "^quillfetch ($version) " ||
        qf_fail "the changelog does not start with release $version"
    # The manual page must render without a complaint from groff.
    local warnings
    warnings=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z "$manpage" 2>&1 >/dev/null) ||
        qf_fail "man cannot render $manpage"
    [ -z "$warnings" ] || qf_fail "the manual page has faults: $warnings"

    qf_check_starts "$bin"
}

# Starts an installed executable headless in a private home and checks that it stays up and
# that SIGTERM ends it cleanly.
qf_check_starts() {
    local bin=$1 home log pid status
    home=$(mktemp -d "${TMPDIR:-/tmp}/quillfetch-run-XXXXXX")
    mkdir -p "$home/config" "$home/data" "$home/cache" "$home/runtime"
    chmod 700 "$home/runtime"
    log="$home/output.log"
    # Started as a user would start it: the sandbox decision is the program's own.
    env -u QTWEBENGINE_DISABLE_SANDBOX -u DBUS_SESSION_BUS_ADDRESS \
        HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
        XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/runtime" \
        QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu \
        "$bin" >"$log" 2>&1 &
    pid=$!
    sleep 5
    if ! kill -0 "$pid" 2>/dev/null; then
        status=0
        wait "$pid" || status=$?
        cat "$log" >&2
        rm -rf "$home"
        qf_fail "the installed program ended by itself within 5 seconds (status $status)"
    fi
    kill -TERM "$pid"
    local waited=0
    while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt 150 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid"
        wait "$pid" || true
        cat "$log" >&2
        rm -rf "$home"
        qf_fail "the installed program did not end within 15 seconds of SIGTERM"
    fi
    status=0
    wait "$pid" || status=$?
    # The start-up window records the browser's rendering level in the private home.
    local wrote_registry=no
    [ -f "$home/config/Quillfetch/registry.ini" ] && wrote_registry=yes
    if [ "$status" -ne 0 ] || [ "$wrote_registry" != yes ]; then
        cat "$log" >&2
        rm -rf "$home"
        qf_fail "the installed program ended with status $status after SIGTERM (registry written: $wrote_registry)"
    fi
    rm -rf "$home"
}
