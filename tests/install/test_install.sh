#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR under /usr, as the package does, and checks the
# installed tree. Arguments: the build folder, the project version, the source folder.
set -euo pipefail
build_dir=$1 version=$2 source_dir=$3
source "$source_dir/tests/install/install-checks.sh"

# Outside the build tree: an installed program must not take its folder for a developer's build.
destdir=$(mktemp -d "${TMPDIR:-/tmp}/quillfetch-destdir-XXXXXX")
trap 'rm -rf "$destdir"' EXIT

DESTDIR="$destdir" cmake --install "$build_dir" --prefix /usr >/dev/null
qf_check_tree "$destdir" /usr "$version" "$source_dir"

# Exactly what a user needs is installed (no test, benchmark or library lands in the system), and
# the program, started above as root from a writable folder, wrote nothing beside itself.
expected='./usr/bin/quillfetch
./usr/share/applications/quillfetch.desktop
./usr/share/doc/quillfetch/changelog.gz
./usr/share/doc/quillfetch/copyright
./usr/share/icons/hicolor/256x256/apps/quillfetch.png
./usr/share/icons/hicolor/scalable/apps/quillfetch.svg
./usr/share/man/man1/quillfetch.1.gz
./usr/share/metainfo/io.github.quillfetch.quillfetch.metainfo.xml'
installed=$(cd "$destdir" && find . -type f | LC_ALL=C sort)
if [ "$installed" != "$expected" ]; then
    diff <(echo "$expected") <(echo "$installed") >&2 || true
    qf_fail "the installed files differ from the expected list"
fi
echo "installed tree under $destdir/usr is complete and the program starts"
