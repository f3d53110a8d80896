#!/usr/bin/env bash
# Runs one line of cases.txt: run.sh <kvext> <libkvext> <kind> <args...>. Everything it
# writes goes to a temporary directory removed at exit.
set -euo pipefail
kvext=$1 library=$2 kind=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
data=$here/../../data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The library's functions, registered as a user registers them.
export KV_OIDFUNC_REGISTRY=$work/oidfunc.conf
"$kvext" register --library "$library" --registry "$KV_OIDFUNC_REGISTRY" >/dev/null

plain=$data/cms/plain.bin
declare -A cipherSet=([A]=1.2.643.2.2.31.1 [Z]=1.2.643.7.1.2.5.1.1)
key() { echo "$data/keys/$1.key.pem"; }
# The recipient's certificate, DER, with the digest set in its key parameters: the library
# makes keys only for recipients whose parameters name it (a TC26 curve's may leave it out).
der_cert() {
    [ -f "$work/$1.der" ] || python3 "$here/with_digest.py" "$data/keys/$1.cert.der" "$work/$1.der"
    echo "$work/$1.der"
}
cert() {
    [ -f "$work/$1.pem" ] || openssl x509 -inform DER -in "$(der_cert "$1")" -out "$work/$1.pem"
    echo "$work/$1.pem"
}
fail() { echo "FAIL: $*" >&2; exit 1; }
same() { cmp -s "$1" "$2" || fail "$1 differs from $2"; }
kv_open() { "$kvext" open --container "$(key "$1")" "$2" "$3" || fail "kvext open for $1"; }
kv_open_with() { "$kvext" open --container "$1" "$2" "$3" || fail "kvext open with $1"; }
openssl_decrypt() {
    openssl cms -decrypt -engine gost -inform "${3:-DER}" -in "$2" -recip "$(cert "$1")" \
        -inkey "$(key "$1")" -out "$work/openssl.out" 2>"$work/openssl.err" ||
        { cat "$work/openssl.err" >&2; fail "openssl cms -decrypt for $1"; }
    same "$work/openssl.out" "$plain"
}
envelope() { "$kvext" envelope "$@" || fail "kvext envelope $*"; }

case $kind in
openssl-to-kvext)
    CRYPT_PARAMS=${cipherSet[$2]} openssl cms -encrypt -engine gost -gost89 -binary \
        -outform DER -in "$plain" -out "$work/env.der" "$(cert "$1")" 2>/dev/null
    kv_open "$1" "$work/env.der" "$work/out"
    same "$work/out" "$plain"
    ;;
kvext-to-openssl)
    envelope --cipher-params "$2" --recipient "$(der_cert "$1")" "$plain" "$work/env.der"
    openssl_decrypt "$1" "$work/env.der"
    ;;
agree)
    envelope --agree --cipher-params "$2" --recipient "$(der_cert "$1")" "$plain" \
        "$work/env.der"
    kv_open "$1" "$work/env.der" "$work/out"
    same "$work/out" "$plain"
    ;;
several)
    recipients=(gost2001_A gost2001_XA gost2012_256_B gost2012_256_TCA gost2012_512_B)
    args=()
    for r in "${recipients[@]}"; do args+=(--recipient "$(der_cert "$r")"); done
    envelope "${args[@]}" "$plain" "$work/env.der"
    envelope --agree "${args[@]}" "$plain" "$work/agree.der"
    for r in "${recipients[@]}"; do
        kv_open "$r" "$work/env.der" "$work/out" && same "$work/out" "$plain"
        kv_open "$r" "$work/agree.der" "$work/out" && same "$work/out" "$plain"
        openssl_decrypt "$r" "$work/env.der"
    done
    ;;
stream)
    cat "$plain" | "$kvext" envelope --recipient "$(der_cert "$1")" - - >"$work/env.ber"
    [ "$(head -c 2 "$work/env.ber" | od -An -tx1 | tr -d ' ')" = 3080 ] || fail "not indefinite"
    openssl_decrypt "$1" "$work/env.ber"
    cat "$work/env.ber" | "$kvext" open --container "$(key "$1")" - - >"$work/out"
    same "$work/out" "$plain"
    envelope --pem --recipient "$(der_cert "$1")" "$plain" "$work/env.pem"
    openssl_decrypt "$1" "$work/env.pem" PEM
    kv_open "$1" "$work/env.pem" "$work/out"
    same "$work/out" "$plain"
    ;;
tc26)
    kv_open_with "$data/tc26cms/$2.pem" "$data/tc26cms/$1.der" "$work/out"
    sed -n "s/^$1 //p" "$data/tc26cms/plaintexts.txt" | python3 -c \
        'import sys; sys.stdout.write(eval(sys.stdin.read()))' >"$work/expected"
    same "$work/out" "$work/expected"
    ;;
broken)
    recipient=$1 how=$2 expected=$3
    envelope --recipient "$(der_cert "$recipient")" "$plain" "$work/env.der"
    case $how in
    recipient) cp "$work/env.der" "$work/broken.der"; recipient=gost2012_256_B ;;
    *) python3 "$here/break.py" "$how" "$work/env.der" "$work/broken.der" ;;
    esac
    set +e
    "$kvext" open --container "$(key "$recipient")" "$work/broken.der" "$work/out" 2>"$work/err"
    status=$?
    set -e
    cat "$work/err" >&2
    [ "$status" -ne 0 ] || fail "a broken envelope opened"
    grep -q "$expected" "$work/err" || fail "expected $expected"
    [ -z "$(ls "$work" | grep '^out')" ] || fail "an output file was left behind"
    ;;
*) fail "unknown kind $kind" ;;
esac
echo "ok: $kind $*"
