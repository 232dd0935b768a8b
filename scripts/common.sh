# Shared by scripts/run and scripts/test: install what is missing, then configure and build.
# Sourced, not run.

QF_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QF_BUILD="$QF_ROOT/build"

qf_missing_packages() {
    local pkg missing=()
    while read -r pkg; do
        pkg=${pkg%%#*}
        pkg=${pkg//[[:space:]]/}
        [ -n "$pkg" ] || continue
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done <"$QF_ROOT/scripts/packages.txt"
    echo "${missing[@]}"
}

qf_install_packages() {
    local missing
    missing=$(qf_missing_packages)
    [ -n "$missing" ] || return 0
    echo "Installing missing Debian packages: $missing"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo="sudo"
        else
            echo "These packages are missing and this user cannot install them: $missing" >&2
            echo "Ask an administrator to run: apt-get install $missing" >&2
            return 1
        fi
    fi
    # shellcheck disable=SC2086
    $sudo apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

# The embedded browser's sandbox cannot start as root.
qf_browser_environment() {
    if [ "$(id -u)" -eq 0 ]; then
        export QTWEBENGINE_DISABLE_SANDBOX=1
    fi
}

qf_build() {
    local target=${1:-all}
    if [ ! -f "$QF_BUILD/CMakeCache.txt" ]; then
        cmake -S "$QF_ROOT" -B "$QF_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release || return 1
    fi
    cmake --build "$QF_BUILD" --target "$target" -j "$(nproc)"
}
