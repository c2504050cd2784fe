#!/usr/bin/env bash
# man_pages.sh SOURCE PAGES: every function that include/qarn.h declares has its reference page,
# every section-3 page but the qarn overview names such a function, every section-3 page is
# built, and every built page renders under man without a warning.
set -euo pipefail
shopt -s nullglob
source=$1 pages=$2
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

declared=$(sed -nE 's/^QARN_API[^(]*[ *]([A-Za-z_][A-Za-z0-9_]*)\(.*/\1/p' "$source/include/qarn.h" | sort)
written=$(cd "$source/docs/reference" && ls *.3.scd | sed 's/\.3\.scd$//' | grep -vx qarn | sort)
[[ $declared == "$written" ]] ||
    fail "functions without a page: $(comm -23 <(echo "$declared") <(echo "$written") | tr '\n' ' ');" \
        "pages without a function: $(comm -13 <(echo "$declared") <(echo "$written") | tr '\n' ' ')"

# scdoc takes a backslash as an escape and drops it: "\n" in an example renders as "n".
lone=$(grep -nP '(?<!\\)\\[A-Za-z0-9]' "$source"/docs/reference/*.scd "$source"/docs/tools/*.scd || true)
[[ -z $lone ]] || fail "a lone backslash is lost in rendering (write \\\\): $lone"

count=0
for scd in "$source"/docs/reference/*.scd "$source"/docs/tools/*.scd; do
    name=${scd##*/}
    page=$pages/${name%.scd}.gz
    if [[ ! -f $page ]]; then
        [[ $name == *.1.scd ]] && continue # a tool this build does not make
        fail "${name%.scd} was not built"
    fi
    rendered=$(MANWIDTH=80 man --warnings -l "$page" 2>"$pages/.warnings") || fail "man -l ${page##*/}"
    [[ ! -s $pages/.warnings ]] || fail "${page##*/}: $(cat "$pages/.warnings")"
    title=${name%%.*}
    grep -q "^NAME" <<<"$rendered" && grep -q "$title" <<<"$rendered" || fail "${page##*/} has no NAME naming $title"
    count=$((count + 1))
done
rm -f "$pages/.warnings"
echo "$count pages render; the $(wc -l <<<"$declared") declared functions each have one"
