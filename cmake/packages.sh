# Sourced by ./run and cmake/run_windows.sh: installs the groups of cmake/packages.txt when run as
# root. `install_group GROUP` returns 0 when every package of the group is present afterwards;
# otherwise `group_reason` holds apt's reason (or why nothing was tried).

package_list=${package_list:-$(dirname "${BASH_SOURCE[0]}")/packages.txt}
index_refreshed=""
index_reason=""
apt_reason=""

# apt_run ARGS...: apt-get quietly; on failure apt_reason holds its first error line. An index
# that could not be fetched counts as a failure even where apt warns and exits 0 (a source it
# cannot reach), so that the reason names the index rather than a package apt then cannot find.
apt_run() {
    local log status=0
    log=$(mktemp)
    DEBIAN_FRONTEND=noninteractive apt-get -qq "$@" >"$log" 2>&1 || status=$?
    apt_reason=$(sed -nE 's/^[EW]: (Failed to fetch .*)/\1/p' "$log" | head -1)
    if ((status)) && [[ -z $apt_reason ]]; then
        apt_reason=$(sed -n 's/^E: //p' "$log" | head -1)
        [[ -n $apt_reason ]] || apt_reason=$(tail -1 "$log")
    fi
    rm -f "$log"
    ((status == 0)) && [[ -z $apt_reason ]]
}

# Refreshes the package index once per run, three tries with a pause between. A part that still
# fails (a mirror in sync, one architecture's index) does not end the run: the installs that
# need it fail and say so, the others go on.
refresh_index() {
    [[ -n $index_refreshed ]] && return 0
    index_refreshed=1
    index_reason=""
    local try
    for try in 1 2 3; do
        apt_run update && return 0
        index_reason=$apt_reason
        echo "apt-get update failed (try $try of 3): $index_reason" >&2
        ((try < 3)) && sleep "${QARN_APT_RETRY_PAUSE:-10}"
    done
    return 0
}

group_packages() { awk -v group="$1" '$1 !~ /^#/ && $2 == group { print $1 }' "$package_list"; }

install_group() {
    local group=$1 name missing=() packages
    mapfile -t packages < <(group_packages "$group")
    for name in "${packages[@]}"; do
        dpkg -s "$name" >/dev/null 2>&1 || missing+=("$name")
    done
    ((${#missing[@]})) || return 0
    if [[ $(id -u) -ne 0 ]]; then
        group_reason="not installed (${missing[*]}), and only root can install them"
        return 1
    fi
    local added_i386=""
    if [[ "${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        # apt finds i386 packages only once dpkg knows the architecture.
        dpkg --add-architecture i386
        added_i386=1 index_refreshed=""
    fi
    refresh_index
    echo "installing ($group): ${missing[*]}"
    if apt_run install -y "${missing[@]}"; then
        return 0
    fi
    group_reason=${index_reason:-$apt_reason}
    if [[ -n $added_i386 ]]; then
        # Leave no unreachable architecture behind to fail every later index refresh.
        dpkg --remove-architecture i386 2>/dev/null && index_refreshed="" || true
    fi
    return 1
}

# install_required: every "required" package, or the run ends.
install_required() {
    install_group required && return 0
    echo "required packages could not be installed: $group_reason" >&2
    exit 1
}

# skipped WHAT WHY: says what a run leaves out and why, at once and again at the end.
skipped_parts=()
skipped() {
    echo "skipped: $1 ($2)" >&2
    skipped_parts+=("$1 ($2)")
}
