#!/usr/bin/env bash
# The bash completion against the built ovra-check, the demo facility and the
# repository's database: subcommands, names from "ovra-check list", the
# options on the line taken into account, quiet on failures.
# Usage: completion_test.sh OVRA_CHECK SOURCE_DIR
set -u
exe=$1 src=$2
cd "$src" || exit 1
unset OVRA_DATABASE OVRA_FACILITY
source packaging/ovra-check.bash-completion
failed=0
expect() {
    local want=$1; shift
    COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
    _ovra_check 2>/tmp/ovra-completion-err.$$
    local got; got=$(printf '%s|' "${COMPREPLY[@]}")
    if [[ $got != "$want" || -s /tmp/ovra-completion-err.$$ ]]; then
        echo "FAIL: ${*:2}: got '$got', want '$want' $(cat /tmp/ovra-completion-err.$$)"
        failed=1
    fi
    rm -f /tmp/ovra-completion-err.$$
}
db="--database $src/database"
expect "list|info|standard|specific|sweep|capture|config|lint|" "$exe" ""
expect "standard|specific|sweep|" "$exe" --json s
expect "LINAC|RING|TRANSFER|" "$exe" list ""
expect "RING|" "$exe" --retries 2 info R
expect "RING|" "$exe" --skip "dead*" --max-link-failures 0 standard R
expect "PUMP-01|PUMP-02|PUMP-03|" "$exe" $db standard LINAC VACUUM-1 P
expect "|" "$exe" standard LINAC VACUUM-1 PUMP-01 ""
expect "LINAC\ daily\ check|" "$exe" $db config "'LINAC"
# Site files list their names only where the Tango backend is.
if "$exe" --version | grep -q "^Tango backend: /"; then
    expect "TGTEST|" "$exe" --facility facilities/tangotest.json list ""
    expect "TANGOTEST|" "$exe" --facility=facilities/tangotest.json specific TGTEST ""
else
    expect "|" "$exe" --facility facilities/tangotest.json list ""
fi
expect "|" "$exe" --facility /nonexistent.json list ""
expect "|" "$exe" --database /nonexistent config ""
expect "--configurations|" "$exe" list --con
exit $failed
