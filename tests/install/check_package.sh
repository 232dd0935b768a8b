#!/usr/bin/env bash
# Checks a built Debian package: its control fields, its dependencies (the libraries the
# program links and the pieces it loads at run time), its file ownership, and the tree it
# unpacks, including that the unpacked program starts. Arguments: the .deb, the project version,
# the source folder.
set -euo pipefail
deb=$1 version=$2 source_dir=$3
source "$source_dir/tests/install/install-checks.sh"

[ -f "$deb" ] || qf_fail "no package at $deb"
field() { dpkg-deb --field "$deb" "$1"; }

[ "$(field Package)" = quillfetch ] || qf_fail "the package is called '$(field Package)'"
[ "$(field Version)" = "$version" ] || qf_fail "the package version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
    qf_fail "the package is built for '$(field Architecture)'"

# dpkg-shlibdeps adds the package of every library the binary links; the browser's helper
# process and the SVG plug-in are loaded at run time and must be there too. Debian's 64-bit time
# transition renames some libraries with a t64 suffix.
depends=$(field Depends)
has_dependency() {
    # A package name may hold "+" and ".", which a pattern would read as operators.
    local name=${1//./\\.}
    name=${name//+/\\+}
    grep -Eq "(^|, )${name}(t64)?( |,|$)" <<<"$depends"
}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
unpacked=$(mktemp -d "${TMPDIR:-/tmp}/quillfetch-deb-XXXXXX")
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
linked=$(readelf -d "$unpacked/usr/bin/quillfetch" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$linked" ] || qf_fail "the packaged executable links no library"
for soname in $linked; do
    owner=$(dpkg-query -S "*/$multiarch/$soname" 2>/dev/null |
        awk -v tail="/$multiarch/$soname" 'substr($0, length($0) - length(tail) + 1) == tail' |
        head -n 1 | cut -d: -f1 || true)
    [ -n "$owner" ] || qf_fail "no installed package holds $soname"
    has_dependency "${owner%t64}" || qf_fail "Depends lacks $owner (for $soname): $depends"
done
for dep in libc6 libqt6widgets6 libqt6webenginecore6 libqt6webenginecore6-bin libqt6svg6 libqt6sql6-sqlite; do
    has_dependency "$dep" || qf_fail "Depends lacks $dep: $depends"
done

# Files in a package belong to root.
owners=$(dpkg-deb --contents "$deb" | awk '{print $2}' | sort -u)
[ "$owners" = root/root ] || qf_fail "package files are owned by: $owners"

qf_check_tree "$unpacked" /usr "$version" "$source_dir"

# Debian's own checker: an error or a warning fails the package.
command -v lintian >/dev/null || qf_fail "lintian is missing: install the Debian package lintian"
lintian --fail-on error,warning --tag-display-limit 0 "$deb" ||
    qf_fail "lintian finds errors or warnings in $deb"
echo "$deb: $(field Version), depends on $depends"
