#!/usr/bin/env bash
# Makes the GOST public-key vectors of tests/keys with OpenSSL's GOST engine.
#
# For each algorithm and parameter set: a key pair (<name>.key.pem), a self-signed certificate
# (<name>.cert.der) and, taken apart from the certificate's SubjectPublicKeyInfo by
# `openssl asn1parse` offsets:
#   <name>.spki.der     the SubjectPublicKeyInfo (identical to `openssl pkey -pubout -outform DER`)
#   <name>.params.der   the AlgorithmIdentifier parameters TLV
#   <name>.pubkey.der   the subjectPublicKey bit string's contents: the GostR3410-PublicKey TLV
#   <name>.pubkey.raw   that OCTET STRING's contents
# and a line "<name> <algorithm OID>" in vectors.txt. The keys are random: running the script
# again makes new vectors, and the tests read whatever is committed.
set -euo pipefail
cd "$(dirname "$0")"

vectors=(
    "gost2001 A" "gost2001 B" "gost2001 XA"
    "gost2012_256 A" "gost2012_256 B" "gost2012_256 XB" "gost2012_256 TCA" "gost2012_256 TCB"
    "gost2012_512 A" "gost2012_512 B" "gost2012_512 C"
)

declare -A algorithmOid=(
    [gost2001]=1.2.643.2.2.19
    [gost2012_256]=1.2.643.7.1.1.1.1
    [gost2012_512]=1.2.643.7.1.1.1.2
)

gost() { openssl "$@" -engine gost 2>/dev/null; }

# slice <file> <offset> <length>: octets of a file.
slice() { dd if="$1" bs=1 skip="$2" count="$3" status=none; }

# field <asn1parse line> <name>: the number after "name=" (offset is the leading number).
field() { sed -E "s/.*[ ]$2= *([0-9]+).*/\1/" <<<"$1"; }
offset() { sed -E 's/^ *([0-9]+):.*/\1/' <<<"$1"; }

take_apart() {
    local name=$1 oid=$2 spki=$1.spki.der parse line
    parse=$(openssl asn1parse -inform DER -in "$spki")
    # d=1 BIT STRING: subjectPublicKey; d=2 SEQUENCE: the algorithm parameters.
    line=$(grep 'd=1 .*BIT STRING' <<<"$parse")
    local bitOff bitHl bitLen
    bitOff=$(offset "$line"); bitHl=$(field "$line" hl); bitLen=$(field "$line" l)
    slice "$spki" $((bitOff + bitHl + 1)) $((bitLen - 1)) >"$name.pubkey.der"
    line=$(grep 'd=2 .*SEQUENCE' <<<"$parse")
    slice "$spki" "$(offset "$line")" $(($(field "$line" hl) + $(field "$line" l))) \
        >"$name.params.der"
    line=$(openssl asn1parse -inform DER -in "$name.pubkey.der" | head -1)
    slice "$name.pubkey.der" "$(field "$line" hl)" "$(field "$line" l)" >"$name.pubkey.raw"
    # The algorithm OID as written in the certificate must be the one named here.
    line=$(grep 'd=2 .*OBJECT' <<<"$parse" | head -1)
    openssl asn1parse -genstr "OID:$oid" -noout -out oid.tmp >/dev/null
    slice "$spki" "$(offset "$line")" $(($(field "$line" hl) + $(field "$line" l))) |
        cmp -s - oid.tmp || { echo "$name: algorithm OID is not $oid" >&2; exit 1; }
    rm -f oid.tmp
}

: >vectors.txt
for vector in "${vectors[@]}"; do
    read -r algorithm paramset <<<"$vector"
    name=${algorithm}_${paramset}
    gost genpkey -algorithm "$algorithm" -pkeyopt "paramset:$paramset" -out "$name.key.pem"
    gost req -x509 -new -key "$name.key.pem" -subj "/CN=kvext test $name" -days 3650 \
        -outform DER -out "$name.cert.der"
    gost x509 -inform DER -in "$name.cert.der" -pubkey -noout |
        openssl pkey -engine gost -pubin -outform DER -out "$name.spki.der" 2>/dev/null
    gost pkey -in "$name.key.pem" -pubout -outform DER | cmp -s - "$name.spki.der" ||
        { echo "$name: certificate and key disagree" >&2; exit 1; }
    take_apart "$name" "${algorithmOid[$algorithm]}"
    echo "$name ${algorithmOid[$algorithm]}" >>vectors.txt
done
