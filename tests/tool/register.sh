#!/usr/bin/env bash
# kvext register / unregister as a user runs them, on a registration file of their own.
# Usage: register.sh KVEXT LIBRARY INSTALLED_CONF INSTALLED_LIBRARY
set -uo pipefail
kvext=$1 library=$2 installed_conf=$3 installed_library=$4
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
conf=$dir/etc/oidfunc.conf
failures=0

# check NAME EXPECTED_STATUS EXPECTED_STDOUT STDERR_PATTERN -- COMMAND...
# An empty pattern asks for an empty stderr.
check() {
    local name=$1 status=$2 stdout=$3 stderr=$4
    shift 5
    "$@" > "$dir/out" 2> "$dir/err"
    local got=$?
    if [ "$got" != "$status" ] || [ "$(cat "$dir/out")" != "$stdout" ] ||
       { [ -z "$stderr" ] && [ -s "$dir/err" ]; } ||
       { [ -n "$stderr" ] && ! grep -q -- "$stderr" "$dir/err"; }; then
        echo "FAIL $name: status $got, stdout:"; cat "$dir/out"; echo "stderr:"; cat "$dir/err"
        failures=$((failures + 1))
    fi
}
same_file() {
    cmp -s "$1" "$2" || { echo "FAIL $3:"; diff "$1" "$2"; failures=$((failures + 1)); }
}

check register 0 "registered 77 functions of $library" '' -- \
    "$kvext" register --library "$library" --registry "$conf"
# The installed registration file comes from the same table: only the library path differs.
sed "s#$installed_library#$library#" "$installed_conf" > "$dir/expected"
same_file "$dir/expected" "$conf" "register writes what the install step installs"
check registerAgain 0 "registered 77 functions of $library" '' -- \
    env KV_OIDFUNC_REGISTRY="$conf" "$kvext" register --library "$library"
same_file "$dir/expected" "$conf" "registering again replaces in place"

check unregister 0 "unregistered 77 functions" '' -- \
    "$kvext" unregister --registry "$conf"
head -n 1 "$dir/expected" > "$dir/header"
same_file "$dir/header" "$conf" "unregister leaves the comment only"
check unregisterAgain 0 "unregistered 0 functions" '' -- \
    "$kvext" unregister --registry "$conf"

check missingLibrary 2 "" \
    'failed: CryptoAPI error 0x0000007E (ERROR_MOD_NOT_FOUND)' -- \
    "$kvext" register --library "$dir/none/libkvext.so.4" --registry "$conf"
grep -q "Cannot load $dir/none/libkvext.so.4" "$dir/err" || { echo "FAIL no trace line"; failures=$((failures + 1)); }

printf '# comment\nCryptDllDecodeObjectEx 1 2.5.29.16\n' > "$conf"
check corruptFile 2 "" 'line 2: expected 5 fields, found 3' -- \
    "$kvext" register --library "$library" --registry "$conf"
grep -q '0x000003F1 (ERROR_BADDB)' "$dir/err" || { echo "FAIL corrupt: no code"; failures=$((failures + 1)); }

"$kvext" register --help | grep -q -- '--library' || { echo "FAIL help"; failures=$((failures + 1)); }
exit $((failures > 0))
