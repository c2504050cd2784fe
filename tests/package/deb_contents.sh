#!/usr/bin/env bash
# deb_contents.sh BUILD TOOLS: makes the Debian package of BUILD in a temporary folder and checks
# its name, its contents and its control files.
set -euo pipefail
build=$1 tools=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.out" 2>&1 ||
    { cat "$work/cpack.out"; fail "cpack"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$work/qarn_${version}_amd64.deb
[[ -f $deb ]] || fail "no qarn_${version}_amd64.deb in $(ls "$work")"

dpkg -c "$deb" | awk '{ print $6 }' >"$work/files"
expected=(./usr/lib/libqarn.so "./usr/lib/libqarn.so.$version" ./usr/lib/libqarn.so.4
    ./usr/include/qarn.h ./usr/lib/cmake/qarn/qarnConfig.cmake ./usr/lib/cmake/qarn/qarnTargets.cmake
    ./usr/lib/pkgconfig/qarn.pc ./usr/share/man/man3/qarn.3.gz ./usr/share/man/man3/StartQARNCommand.3.gz
    ./usr/share/man/man3/CreateNotifyWindow.3.gz)
for tool in ${tools//,/ }; do expected+=("./usr/bin/$tool" "./usr/share/man/man1/$tool.1.gz"); done
for file in "${expected[@]}"; do
    grep -qx -- "$file" "$work/files" || fail "$file is not in the package"
done

dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/pkgconfig/qarn.pc | grep -qx 'prefix=/usr' ||
    fail "qarn.pc does not name the prefix /usr"
dpkg-deb -e "$deb" "$work/control"
grep -q '^Depends:.*libc6' "$work/control/control" || fail "no dependency on libc6"
grep -qx "libqarn 4 qarn (= $version)" "$work/control/shlibs" || fail "shlibs: $(cat "$work/control/shlibs")"
grep -q ldconfig "$work/control/postinst" || fail "postinst does not run ldconfig"
echo "$(wc -l <"$work/files") entries in qarn_${version}_amd64.deb"
