#!/usr/bin/env bash
# consumers.sh BUILD SOURCE TOOLS: installs BUILD into a temporary prefix, checks what landed
# there, builds examples/installed against it through find_package(qarn) and through
# pkg-config, and runs both programs, and the installed qarnctl, against the installed simulator.
set -euo pipefail
build=$1 source=$2 tools=$3
work=$(mktemp -d)
simulator=""
cleanup() {
    [[ -n $simulator ]] && kill "$simulator" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
expected=(lib/libqarn.so lib/libqarn.so.4 include/qarn.h lib/cmake/qarn/qarnConfig.cmake
    lib/cmake/qarn/qarnConfigVersion.cmake lib/cmake/qarn/qarnTargets.cmake lib/pkgconfig/qarn.pc)
for tool in ${tools//,/ }; do expected+=("bin/$tool"); done
for file in "${expected[@]}"; do
    [[ -e $prefix/$file ]] || fail "$file is not installed"
done
while read -r header; do
    cmp -s "$source/include/$header" "$prefix/include/$header" || fail "include/$header is not installed"
done < <(cd "$source/include" && find . -type f -name '*.h*')
grep -q 'SONAME.*\[libqarn\.so\.4\]' <<<"$(readelf -d "$prefix/lib/libqarn.so")" || fail "soname is not libqarn.so.4"
exported=$(nm -D --defined-only "$prefix/lib/libqarn.so" | awk '$2 == "T" { print $3 }' | sort | tr '\n' ' ')
declared=$(sed -nE 's/^QARN_API[^(]*[ *]([A-Za-z_][A-Za-z0-9_]*)\(.*/\1/p' "$source/include/qarn.h" | sort | tr '\n' ' ')
[[ $exported == "$declared" ]] || fail "the library exports [$exported], the header declares [$declared]"

cmake -S "$source/examples/installed" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
read -r cflags < <(pkg-config --cflags qarn)
[[ $cflags == "-I$prefix/include" ]] || fail "pkg-config --cflags: $cflags"
mkdir "$work/pkg-config"
make -s -C "$work/pkg-config" -f "$source/examples/installed/Makefile" >/dev/null
# The installed headers stand on their own, the C++ ones included.
printf '#include <qarn.hpp>\n#include <qarn_layouts.h>\nint main() { return 0; }\n' |
    c++ -std=c++17 -x c++ - -o "$work/headers" $(pkg-config --cflags --libs qarn) || fail "the installed headers do not build"

"$prefix/bin/dmsim" --terminals 2,3 --ignore-stdin >"$work/dmsim.out" 2>&1 </dev/null &
simulator=$!
port=""
for _ in $(seq 100); do
    port=$(sed -n 's/^port //p' "$work/dmsim.out")
    [[ -n $port ]] && break
    sleep 0.1
done
[[ -n $port ]] || fail "the installed simulator did not start"

for program in "$work/cmake/line_check" "$work/pkg-config/line_check"; do
    grep -q "libqarn.so.4 => $prefix/lib/" <<<"$(LD_LIBRARY_PATH=$prefix/lib ldd "$program")" ||
        fail "$program does not load the installed library"
    LD_LIBRARY_PATH=$prefix/lib "$program" "$port" >"$work/out" 2>&1 || { cat "$work/out"; fail "$program exit $?"; }
    grep -q "^search: result [0-9]*, 2 terminal(s)$" "$work/out" || { cat "$work/out"; fail "$program search"; }
done
if [[ -x $prefix/bin/qarnctl ]]; then
    LD_LIBRARY_PATH=$prefix/lib "$prefix/bin/qarnctl" --port "$port" --json status 3 >"$work/out" 2>&1 ||
        { cat "$work/out"; fail "the installed qarnctl"; }
fi
echo "installed into a temporary prefix; both consumers built and ran against the simulator"
