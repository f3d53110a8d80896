#!/usr/bin/env bash
# Runs the kvext tool as a user does. A case file holds one case a block, blank lines between:
#     case:   name
#     run:    shell command line; `kvext` is the tool under test
#     exit:   expected exit status
#     stdout: file under expected/ that standard output must equal (optional)
#     stderr: text standard error must contain (optional, repeatable)
# The command runs in a scratch directory ($TMP) with $DATA (tests/data), $SAMPLES (the bundled
# samples), $EXPECTED, $TOOLDATA (tests/tool/data) and $LIB (the library under test) set, and
# with KV_OIDFUNC_REGISTRY at a registration file made by `kvext register`.
# KV_TOOL_TESTS_UPDATE=1 writes each case's output into its expected file instead.
#
# usage: run.sh KVEXT LIBKVEXT CASEFILE
set -u
kvext_bin=$1
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/bin" "$tmp/work"
ln -s "$kvext_bin" "$tmp/bin/kvext"
export PATH="$tmp/bin:$PATH"
export LIB=$2 DATA=$root/tests/data SAMPLES=$root/tools/kvext/samples EXPECTED=$here/expected
export TOOLDATA=$here/data TMP=$tmp/work
export KV_OIDFUNC_REGISTRY=$tmp/oidfunc.conf
unset KV_TRACE_MASK KV_TRACE_FILE
kvext register --library "$LIB" >/dev/null || { echo "kvext register failed"; exit 1; }

failures=0
count=0
name="" run="" status="" stdout="" stderr=()

run_case() {
    [ -n "$run" ] || return 0
    count=$((count + 1))
    (cd "$TMP" && bash -o pipefail -c "$run") >"$tmp/out" 2>"$tmp/err"
    local got=$? problems=()
    [ "$got" = "$status" ] || problems+=("exit status $got, expected $status")
    if [ -n "$stdout" ]; then
        if [ "${KV_TOOL_TESTS_UPDATE:-}" = 1 ]; then
            cp "$tmp/out" "$EXPECTED/$stdout"
        elif ! cmp -s "$tmp/out" "$EXPECTED/$stdout"; then
            problems+=("stdout differs from expected/$stdout:"
                       "$(diff "$EXPECTED/$stdout" "$tmp/out" | head -20)")
        fi
    fi
    local text
    for text in "${stderr[@]}"; do
        grep -qF -- "$text" "$tmp/err" || problems+=("stderr lacks: $text")
    done
    if [ ${#problems[@]} -gt 0 ]; then
        failures=$((failures + 1))
        echo "FAIL $name: $run"
        printf '    %s\n' "${problems[@]}"
        echo "    stderr was:"
        sed 's/^/      /' "$tmp/err" | head -10
    fi
}

while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in
    "") run_case; name="" run="" status="" stdout="" stderr=() ;;
    "#"*) ;;
    case:*) name=${line#case:}; name=${name# } ;;
    run:*) run=${line#run:}; run=${run# } ;;
    exit:*) status=${line#exit:}; status=${status# } ;;
    stdout:*) stdout=${line#stdout:}; stdout=${stdout# } ;;
    stderr:*) text=${line#stderr:}; stderr+=("${text# }") ;;
    *) echo "$3: cannot read line: $line"; exit 1 ;;
    esac
done <"$3"
run_case

echo "$count cases, $failures failed"
[ "$failures" = 0 ]
