#!/usr/bin/env bash
# Makes the vectors of the GOST provider tests (tests/platform/csp) with OpenSSL and its GOST
# engine. Key pairs are random, so one is made only where its file is missing; everything
# else is derived again from the committed key pairs and reproduces the committed files.
set -euo pipefail
cd "$(dirname "$0")"
export OPENSSL_CONF=/dev/null

keys=("gost2001 A" "gost2001 XA" "gost2012_256 A" "gost2012_256 TCA" "gost2012_512 A"
    "gost2012_512 C")

gost() { openssl "$@" -engine gost 2>/dev/null; }

# The dotted OID of an object that openssl names `$1`, from openssl's own object table, whose
# lines read "short name = long name, OID" or "short name = OID".
oid_of() {
    openssl list -objects | awk -v name="$1" '{
        at = index($0, " = "); if (!at) next
        short = substr($0, 1, at - 1); rest = substr($0, at + 3)
        if (match(rest, /, [0-9]+(\.[0-9]+)+$/)) {
            long = substr(rest, 1, RSTART - 1); oid = substr(rest, RSTART + 2)
        } else if (rest ~ /^[0-9]+(\.[0-9]+)+$/) {
            long = short; oid = rest
        } else next
        if (name == short || name == long) { print oid; exit }
    }' | grep -E '^[0-9]+(\.[0-9]+)+$' || { echo "no OID for \"$1\"" >&2; exit 1; }
}

# `openssl pkey -pubout -text` with the parameter set given by its OID instead of its name.
public_text() {
    local line
    gost pkey -in "$1" -pubout -text -noout | while IFS= read -r line; do
        if [[ $line == "Parameter set: "* ]]; then
            echo "Parameter set: $(oid_of "${line#Parameter set: }")"
        else
            printf '%s\n' "$line"
        fi
    done
}

for key in "${keys[@]}"; do
    read -r algorithm paramset <<<"$key"
    for n in 1 2; do
        name=$algorithm-$paramset-$n
        [[ -e $name.pem ]] ||
            gost genpkey -algorithm "$algorithm" -pkeyopt "paramset:$paramset" -out "$name.pem"
        gost pkey -in "$name.pem" -pubout -outform DER -out "$name.pub.der"
        public_text "$name.pem" >"$name.pub.txt"
    done
done

# 1100 bytes, byte i = (7 i + 3) mod 256.
for ((i = 0; i < 1100; ++i)); do
    printf "\\$(printf '%03o' $(((7 * i + 3) % 256)))"
done >cfb-plain.bin

# GOST 28147-89 CFB under each parameter set (Kelvarine A-D, TC26 Z), named by its OID.
declare -A cipherParamSets=([A]=1.2.643.2.2.31.1 [B]=1.2.643.2.2.31.2 [C]=1.2.643.2.2.31.3
    [D]=1.2.643.2.2.31.4 [Z]=1.2.643.7.1.2.5.1.1)
for set in "${!cipherParamSets[@]}"; do
    CRYPT_PARAMS=${cipherParamSets[$set]} gost enc -gost89 \
        -K 8182838485868788898a8b8c8d8e8f90a0a1a2a3a4a5a6a7a8a9aaabacadaeaf \
        -iv 0102030405060708 -in cfb-plain.bin -out "cfb-$set.bin"
done
