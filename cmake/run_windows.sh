#!/usr/bin/env bash
# The Windows target: a 32-bit and a 64-bit qarn.dll with qarnctl.exe and dmsim.exe.
#   bash cmake/run_windows.sh build     cross-compiles both into build-win/i686 and
#                                       build-win/x86_64 and checks each export table
#   bash cmake/run_windows.sh test      also runs the Windows test program, the end-to-end
#                                       scenarios, qarnctl.exe and qarnctl's tests under Wine, in
#                                       a fresh prefix, against a simulated line on a pty mapped
#                                       to COM5, and dmsim.exe on COM7, which the Linux qarnctl
#                                       drives
#   bash cmake/run_windows.sh package   also writes build/qarn-VERSION-windows.zip: i686/ and
#                                       x86_64/ with qarn.dll, libqarn.dll.a, qarnctl.exe and
#                                       dmsim.exe, and include/
# A kernel without 32-bit support runs no 32-bit code, not even under Wine, and the i386 packages
# may not be installable (an index that cannot be fetched); the test then runs the 64-bit build
# under 64-bit Wine. Without the cross compilers the Windows target is skipped, without Wine its
# tests, each with the reason.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$root/build-win
jobs=2
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
source "$root/cmake/packages.sh"

# The exported functions with the byte count of their arguments, in ordinal order: the first
# ones with their plain names at ordinals 1-21 and their decorated names at 22-42, then each one
# added since at the next two ordinals, plain and decorated, so that no ordinal changes meaning.
exports=(ClearRecvStr@4 CloseDevice@4 ConnectPort@8 DisConnectPort@4 EndQARNCommand@4
    GetCmdResult@4 GetData@12 GetSizeOfData@4 IsConnect@4 OpenDevice@8 RecvEdition@4
    RecvHDLC@8 RecvStream@8 SendFrame@8 SetAddLog@8 SetCommKey@8 SetInnerCmd@8 SetInnerCode@8
    SetMyAddress@8 SetWaitTime@8 StartQARNCommand@20)
added_exports=(GetRtsControl@4 GetRecordForm@4 PostQuitToOwner@4 CancelQARNCommand@4 SendCommandFrame@16 ConvertCardText@24)
system_dlls="^(kernel32|user32|comctl32|msvcrt|gdi32|advapi32|ws2_32)\.dll$"

generator() {
    if command -v ninja >/dev/null; then echo Ninja; else echo "Unix Makefiles"; fi
}

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# build_dll ARCH: the DLL, qarnctl.exe, dmsim.exe and the test programs in build-win/ARCH.
build_dll() {
    local arch=$1
    cmake -S "$root" -B "$out/$arch" -G "$(generator)" "${launcher[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" >/dev/null
    cmake --build "$out/$arch" -j "$jobs"
}

# check_exports ARCH: a DLL of the architecture, every export at its ordinal above, the plain
# and the decorated name of a function bound to the same code (x64 has one calling convention:
# there the decorated names are aliases), and nothing imported but the system's DLLs.
check_exports() {
    local arch=$1 dll=$out/$1/qarn.dll listing format
    listing=$("$arch-w64-mingw32-objdump" -p "$dll")
    format=pei-i386
    [[ $arch == x86_64 ]] && format=pei-x86-64
    local expected=() pairs=() entry i
    for entry in "${exports[@]}"; do expected+=("${entry%@*}"); done
    for entry in "${exports[@]}"; do expected+=("_$entry"); done
    for ((i = 1; i <= ${#exports[@]}; i++)); do pairs+=("$i:$((i + ${#exports[@]}))"); done
    for entry in "${added_exports[@]}"; do
        expected+=("${entry%@*}" "_$entry")
        pairs+=("$((${#expected[@]} - 1)):${#expected[@]}")
    done
    echo "${listing}" | awk -v names="${expected[*]}" -v pairs="${pairs[*]}" \
        -v allowed="$system_dlls" -v format="$format" -v arch="$arch" '
        BEGIN { count = split(names, want, " "); bound = split(pairs, pair, " ") }
        /file format / { found = $NF }
        /^Export Address Table -- Ordinal Base/ { table = "address"; next }
        /^\[Ordinal\/Name Pointer\] Table/ { table = "names"; next }
        /^[ \t]*$/ { table = "" }
        table == "address" && /\+base\[/ {
            line = $0; gsub(/[\[\]+]/, " ", line); split(line, f, " ")
            rva[f[3]] = f[4]
        }
        table == "names" && /^\t\[/ {
            line = $0; gsub(/[\[\]]/, " ", line); split(line, f, " ")
            name[f[1] + 1] = f[2]; named++
        }
        /DLL Name:/ { dll = tolower($3); if (dll !~ allowed) { print "FAIL imports " $3; failed++ } }
        END {
            if (found != format) { print "FAIL file format " found ", expected " format; failed++ }
            if (named != count) { print "FAIL " named " exports, expected " count; failed++ }
            for (i = 1; i <= count; i++)
                if (name[i] != want[i]) { print "FAIL ordinal " i ": " name[i] ", expected " want[i]; failed++ }
            for (i = 1; i <= bound; i++) {
                split(pair[i], at, ":")
                if (rva[at[1]] == "" || rva[at[1]] != rva[at[2]]) {
                    print "FAIL ordinals " at[1] " and " at[2] " differ"; failed++
                }
            }
            if (failed) exit 1
            print "export table (" arch ", " format "): " count " exports, plain and decorated names bound alike"
        }'
}

can_run_32bit() { "$wine32" --version >/dev/null 2>&1; }

# A simulated line of terminals 2, 3 and 4 on a pty, driven through a second pty by the
# scenarios; sets simulator (its pid), line and control (the ptys). Builds the Linux qarnctl
# beside it, for driving dmsim.exe.
start_simulator() {
    local dmsim=$out/native/tools/dmsim
    cmake -S "$root" -B "$out/native" -G "$(generator)" "${launcher[@]}" >/dev/null
    cmake --build "$out/native" -j "$jobs" --target dmsim qarnctl
    local log=$out/dmsim.log
    "$dmsim" --terminals 2,3,4 --control-pty --ignore-stdin --still-clock >"$log" 2>&1 </dev/null &
    simulator=$!
    line="" control=""
    for _ in $(seq 50); do
        line=$(sed -n 's/^port //p' "$log" | head -1)
        control=$(sed -n 's/^control //p' "$log" | head -1)
        [[ -n $line && -n $control ]] && return 0
        sleep 0.1
    done
    echo "the simulator did not start" >&2
    return 1
}

# start_device_server: ser2net on 127.0.0.1 in front of the simulator's line, a raw TCP port and
# an RFC 2217 port, for the network-line scenarios; sets device_server (its pid, empty without
# ser2net) and exports the ports as QARN_TEST_SER2NET_RAW and QARN_TEST_SER2NET_RFC2217.
start_device_server() {
    device_server=""
    local ser2net
    ser2net=$(command -v ser2net || ls /usr/sbin/ser2net 2>/dev/null) || {
        echo "skipped: network-line scenarios under Wine (ser2net is not installed)" >&2
        return 0
    }
    local ports config=$out/ser2net.yaml
    ports=$(python3 -c 'import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(" ".join(str(x.getsockname()[1]) for x in s))')
    read -r QARN_TEST_SER2NET_RAW QARN_TEST_SER2NET_RFC2217 <<<"$ports"
    export QARN_TEST_SER2NET_RAW QARN_TEST_SER2NET_RFC2217
    cat >"$config" <<YAML
%YAML 1.1
---
connection: &raw
  accepter: tcp,127.0.0.1,$QARN_TEST_SER2NET_RAW
  connector: serialdev,$line,230400e81,local
  options:
    kickolduser: true
connection: &telnet
  accepter: telnet(rfc2217),tcp,127.0.0.1,$QARN_TEST_SER2NET_RFC2217
  connector: serialdev,$line,230400e81,local
  options:
    kickolduser: true
YAML
    # The scenarios under Wine cannot signal or look into a Linux process: they ask this keeper
    # by creating a file in its directory, and wait for its answer: "kill" (ser2net ended at
    # once, "killed"), "start" (restarted on the same ports, "started") and "release" (ser2net
    # no longer holds the simulator's line, which it keeps open a while after a client leaves,
    # "released").
    local requests=$out/ser2net-requests
    rm -rf "$requests" && mkdir -p "$requests"
    QARN_TEST_SER2NET_REQUESTS="Z:${requests//\//\\}"
    export QARN_TEST_SER2NET_REQUESTS
    (
        set +e # a killed server's exit status is expected here
        launch() { "$ser2net" -n -c "$config" -P "$out/ser2net.pid" >>"$out/ser2net.log" 2>&1 </dev/null & pid=$!; }
        trap 'kill -9 $pid 2>/dev/null; exit 0' TERM
        launch
        while sleep 0.02; do
            if [ -e "$requests/kill" ]; then
                kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
                rm -f "$requests/kill" && touch "$requests/killed"
            elif [ -e "$requests/start" ]; then
                launch
                # Listening, seen without connecting: a client would hold the line.
                for _ in $(seq 200); do
                    grep -qi ":$(printf %04X "$QARN_TEST_SER2NET_RAW") 00000000:0000 0A" /proc/net/tcp && break
                    sleep 0.05
                done
                rm -f "$requests/start" && touch "$requests/started"
            elif [ -e "$requests/release" ]; then
                for _ in $(seq 400); do
                    readlink /proc/"$pid"/fd/* 2>/dev/null | grep -qx "$(readlink -f "$line")" || break
                    sleep 0.05
                done
                rm -f "$requests/release" && touch "$requests/released"
            fi
        done
    ) &
    device_server=$!
}

# start_bridge: two ptys joined by a helper that copies each one's output to the other, a null
# modem cable between two programs that each open a serial device; sets bridge (its pid),
# wine_end and host_end (the ptys).
start_bridge() {
    local names=$out/bridge.names
    rm -f "$names"
    python3 - "$names" <<'PYTHON' &
import os, select, sys, tty
ends = [os.openpty() for _ in range(2)]
for _, peer in ends:
    tty.setraw(peer)  # held open: each side may close and reopen its device
with open(sys.argv[1] + ".new", "w") as names:
    names.write(" ".join(os.ttyname(peer) for _, peer in ends) + "\n")
os.rename(sys.argv[1] + ".new", sys.argv[1])
masters = [master for master, _ in ends]
while True:
    for master in select.select(masters, [], [])[0]:
        data = os.read(master, 4096)
        os.write(masters[1 - masters.index(master)], data)
PYTHON
    bridge=$!
    for _ in $(seq 50); do
        if [[ -s $names ]]; then
            read -r wine_end host_end <"$names"
            return 0
        fi
        sleep 0.1
    done
    echo "the pty bridge did not start" >&2
    return 1
}

# fresh_prefix ARCH LINE CONTROL BRIDGE: a new Wine prefix in build-win/prefix-ARCH with the null
# graphics driver, COM5 and COM12 mapped to the pty LINE, COM6 to CONTROL and COM7 to BRIDGE;
# sets loader and server.
fresh_prefix() {
    local arch=$1 pty=$2 control_pty=$3 bridge_pty=$4
    if [[ $arch == i686 ]]; then
        loader=$wine32 server=/usr/lib/wine/wineserver32
        export WINEARCH=win32
    else
        loader=$wine64 server=/usr/lib/wine/wineserver64
        export WINEARCH=win64
    fi
    export WINEPREFIX=$out/prefix-$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
    "$server" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    "$loader" wineboot -i >/dev/null 2>&1
    "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    "$loader" reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$pty" /f >/dev/null 2>&1
    "$loader" reg add 'HKLM\Software\Wine\Ports' /v COM12 /d "$pty" /f >/dev/null 2>&1
    "$loader" reg add 'HKLM\Software\Wine\Ports' /v COM6 /d "$control_pty" /f >/dev/null 2>&1
    "$loader" reg add 'HKLM\Software\Wine\Ports' /v COM7 /d "$bridge_pty" /f >/dev/null 2>&1
    # The port mapping is read when Wine starts: restart it.
    "$server" -k 2>/dev/null || true
}

# run_qarnctl ARCH: qarnctl.exe reads terminal 2's status through COM5 as JSON, and without
# --port it refuses with the reason; prints what it printed.
run_qarnctl() {
    local arch=$1 status=0 output refusal
    echo "running qarnctl.exe ($arch) under Wine: --json --port COM5 status 2"
    output=$(cd "$out/$arch" && timeout 60 "$loader" qarnctl.exe --json --port COM5 status 2) ||
        status=$?
    echo "$output"
    if ((status)); then
        echo "FAIL qarnctl.exe exited with $status"
        return 1
    fi
    python3 -c '
import json, sys
reply = json.loads(sys.argv[1])
status = reply.get("status", {})
assert reply.get("command") == "status" and reply.get("terminal") == 2, reply
assert reply.get("result") == 13 and reply.get("result_name"), reply
assert status.get("year", 0) >= 2000 and status.get("clock"), reply
' "$output" || { echo "FAIL qarnctl.exe printed no status of terminal 2"; return 1; }
    refusal=$(cd "$out/$arch" && timeout 60 "$loader" qarnctl.exe status 2 2>&1) && status=0 || status=$?
    if ((status != 1)) || [[ $refusal != *"--port"* ]]; then
        echo "FAIL qarnctl.exe without --port: exit $status, $refusal"
        return 1
    fi
    echo "qarnctl.exe without --port: ${refusal//$'\r'/}"
}

# run_gtest ARCH NAME REPORT PROGRAM [ARGUMENTS...]: a GoogleTest program under Wine, its output
# in REPORT and its failures shown; prints how many of NAME ran and passed, and fails unless
# some ran and all passed.
run_gtest() {
    local arch=$1 name=$2 report=$3 status=0 started run passed
    shift 3
    started=$(date +%s)
    (cd "$out/$arch" && timeout 900 "$loader" "$@") >"$report" 2>&1 || status=$?
    grep -vE '^\[ RUN|^\[-+\]|^$' "$report" || true
    run=$(grep -cE '^\[ +(OK|FAILED) +\] .* \([0-9]+ ms\)' "$report" || true)
    passed=$(grep -cE '^\[ +OK +\] .* \([0-9]+ ms\)' "$report" || true)
    echo "Wine $name: $run run, $passed passed, architecture $arch," \
        "$(($(date +%s) - started)) s"
    ((run > 0 && run == passed)) || status=1
    return "$status"
}

# run_dmsim_exe ARCH: dmsim.exe serves terminals 2 and 3 on COM7; the Linux qarnctl reads
# terminal 2's status through the other end of the bridge, then dmsim.exe answers a control
# line on stdin and ends with it; prints what both printed.
run_dmsim_exe() {
    local arch=$1 fifo=$out/dmsim-exe.in log=$out/dmsim-exe.log output status=0 feed pid
    echo "running dmsim.exe ($arch) under Wine: --port COM7 --terminals 2,3 (COM7 = $wine_end)"
    rm -f "$fifo"
    mkfifo "$fifo"
    (cd "$out/$arch" && exec timeout 120 "$loader" dmsim.exe --port COM7 --terminals 2,3) \
        <"$fifo" >"$log" 2>&1 &
    pid=$!
    exec {feed}>"$fifo"
    for _ in $(seq 300); do
        grep -q '^port COM7' "$log" && break
        sleep 0.1
    done
    echo "running the Linux qarnctl: --json --port $host_end status 2"
    output=$(timeout 60 "$out/native/tools/qarnctl" --json --port "$host_end" status 2) ||
        status=$?
    echo "$output"
    echo "show 2" >&"$feed"
    exec {feed}>&-
    wait "$pid" || status=$?
    tr -d '\r' <"$log" | cut -c1-120
    rm -f "$fifo"
    if ((status)); then
        echo "FAIL dmsim.exe and qarnctl: exit $status"
        return 1
    fi
    python3 -c '
import json, sys
reply = json.loads(sys.argv[1])
lines = open(sys.argv[2]).read().replace("\r", "").splitlines()
assert lines[0] == "port COM7", lines
assert reply.get("command") == "status" and reply.get("terminal") == 2, reply
assert reply.get("result") == 13 and reply.get("status", {}).get("clock"), reply
assert json.loads(lines[1])["address"] == 2, lines
' "$output" "$log" || { echo "FAIL dmsim.exe did not answer as a terminal line"; return 1; }
    echo "dmsim.exe answered on COM7 and on stdin"
}

# run_windows_tests ARCH: the Windows test program against terminal 2 behind COM5 (and COM12),
# qarnctl.exe, then the end-to-end scenarios and qarnctl's tests; prints how many of each ran
# and passed, and on which architecture.
run_windows_tests() {
    local arch=$1 status=0
    start_simulator
    trap 'kill "$simulator" 2>/dev/null || true' EXIT
    start_bridge
    start_device_server
    trap 'kill "$simulator" "$bridge" $device_server 2>/dev/null || true' EXIT
    fresh_prefix "$arch" "$line" "$control" "$wine_end"
    echo "running the Windows test program ($arch) under Wine, COM5 = $line"
    (cd "$out/$arch" && timeout 300 "$loader" qarn_windows_test.exe COM5 2 COM12) || status=$?
    run_qarnctl "$arch" || status=1
    run_dmsim_exe "$arch" || status=1
    echo "running the end-to-end scenarios ($arch) under Wine, COM6 = $control"
    # The unplugged-adapter scenario closes the line and opens a new pty, which COM5 cannot
    # follow: Wine reads the port mapping when it starts.
    run_gtest "$arch" scenarios "$out/scenarios-$arch.txt" qarn_integration_tests.exe \
        "--gtest_filter=${GTEST_FILTER:-*}:-LineFaults.UnpluggedAdapterEndsTheCommandAndTheLineComesBack" ||
        status=1
    echo "running qarnctl's tests ($arch) under Wine, COM6 = $control"
    # The explicit filter keeps a GTEST_FILTER meant for the scenarios from reaching these.
    run_gtest "$arch" "qarnctl tests" "$out/qarnctl-tests-$arch.txt" qarnctl_tests.exe \
        "--gtest_filter=*" || status=1
    "$server" -k 2>/dev/null || true
    kill "$simulator" "$bridge" $device_server 2>/dev/null || true
    trap - EXIT
    return "$status"
}

# package: both builds installed side by side and zipped with the public headers into
# build/qarn-VERSION-windows.zip.
package() {
    local version stage=$out/stage arch
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/x86_64/CMakeCache.txt")
    rm -rf "$stage"
    for arch in i686 x86_64; do
        cmake --install "$out/$arch" --prefix "$stage/$arch" --strip >/dev/null
    done
    mkdir -p "$root/build"
    python3 - "$stage" "$root" "$root/build/qarn-$version-windows.zip" <<'PYTHON'
import pathlib, sys, zipfile
stage, root, target = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), sys.argv[3]
# The export table each DLL was linked with, for making an import library with other tools.
definitions = {"i686": root / "cmake" / "qarn.def",
               "x86_64": stage.parent / "x86_64" / "generated" / "qarn.def"}
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
    for arch in ("i686", "x86_64"):
        for name in ("bin/qarn.dll", "lib/libqarn.dll.a", "bin/qarnctl.exe", "bin/dmsim.exe"):
            archive.write(stage / arch / name, f"{arch}/{pathlib.Path(name).name}")
        archive.write(definitions[arch], f"{arch}/qarn.def")
    for header in sorted((stage / "x86_64" / "include").rglob("*")):
        if header.is_file():
            archive.write(header, header.relative_to(stage / "x86_64").as_posix())
    archive.write(root / "docs" / "windows.md", "windows.md")
    print(target + ":")
    for entry in archive.infolist():
        print(f"  {entry.file_size:>9}  {entry.filename}")
PYTHON
}

command=${1:-build}
case "$command" in
build | test | package) ;;
*)
    echo "usage: bash cmake/run_windows.sh build | test | package" >&2
    exit 2
    ;;
esac
if ! install_group windows-build; then
    skipped "the Windows target" "$group_reason"
    exit 0
fi
for arch in i686 x86_64; do
    build_dll "$arch"
    check_exports "$arch"
done
if [[ $command == package ]]; then
    package
    exit 0
fi
[[ $command == test ]] || exit 0
if ! install_group wine; then
    skipped "the Windows tests under Wine" "$group_reason"
    exit 0
fi
if ! install_group wine-i386; then
    echo "i386 packages could not be installed: $group_reason; testing the 64-bit build"
elif ! can_run_32bit; then
    echo "this kernel runs no 32-bit code: testing the 64-bit build of the same sources"
else
    run_windows_tests i686
    exit
fi
run_windows_tests x86_64
