#!/usr/bin/env bash
# Makes the CMS enveloped-data vectors of tests/keys with OpenSSL's GOST engine.
#
# For each recipient (algorithm and parameter set): a key pair (<name>.key.pem), a self-signed
# certificate (<name>.cert.pem), the certificate's public-key parameters and key encoding
# (<name>.params.der, <name>.pubkey.der), and an envelope of plain.bin for that certificate,
# `openssl cms -encrypt -gost89` (<name>.env.der), taken apart by `openssl asn1parse` offsets:
#   <name>.rid.der              the KeyTransRecipientInfo's IssuerAndSerialNumber
#   <name>.encryptedkey.der     its encryptedKey contents: the GostR3410-KeyTransport
#   <name>.content-params.der   the contentEncryptionAlgorithm parameters (Gost28147-89-Parameters)
#   <name>.ciphertext.bin       the encryptedContent
# and a line "<name> <algorithm OID>" in vectors.txt. Keys, IVs and UKMs are random: running
# the script again makes new vectors, and the tests read whatever is committed.
set -euo pipefail
cd "$(dirname "$0")"

recipients=("gost2001 A" "gost2012_256 A" "gost2012_512 A")

declare -A algorithmOid=(
    [gost2001]=1.2.643.2.2.19
    [gost2012_256]=1.2.643.7.1.1.1.1
    [gost2012_512]=1.2.643.7.1.1.1.2
)

# The engine goes before the operands (cms takes its certificates last).
gost() { openssl "$1" -engine gost "${@:2}" 2>/dev/null; }

# slice <file> <offset> <length>: octets of a file.
slice() { dd if="$1" bs=1 skip="$2" count="$3" status=none; }

# field <asn1parse line> <name>: the number after "name=" (offset is the leading number).
field() { sed -E "s/.*[ ]$2= *([0-9]+).*/\1/" <<<"$1"; }
offset() { sed -E 's/^ *([0-9]+):.*/\1/' <<<"$1"; }

# whole <file> <asn1parse line>: the element's identifier, length and contents.
whole() { slice "$1" "$(offset "$2")" $(($(field "$2" hl) + $(field "$2" l))); }
# contents <file> <asn1parse line>: the element's contents only.
contents() { slice "$1" $(($(offset "$2") + $(field "$2" hl))) "$(field "$2" l)"; }

# The message: longer than the 1024 bytes after which GOST 28147-89 CFB meshes its key.
for i in $(seq 1 30); do printf 'line %02d of the kvext enveloped-data test message.\n' "$i"; done \
    >plain.bin

public_key_of() {
    local name=$1 spki=$1.spki.tmp parse line
    gost x509 -in "$name.cert.pem" -pubkey -noout |
        openssl pkey -engine gost -pubin -outform DER -out "$spki" 2>/dev/null
    parse=$(openssl asn1parse -inform DER -in "$spki")
    line=$(grep 'd=2 .*SEQUENCE' <<<"$parse")
    whole "$spki" "$line" >"$name.params.der"
    # The BIT STRING's contents after its unused-bits octet: the GostR3410-PublicKey.
    line=$(grep 'd=1 .*BIT STRING' <<<"$parse")
    slice "$spki" $(($(offset "$line") + $(field "$line" hl) + 1)) $(($(field "$line" l) - 1)) \
        >"$name.pubkey.der"
    rm -f "$spki"
}

take_apart() {
    local name=$1 env=$1.env.der parse line
    parse=$(openssl asn1parse -inform DER -in "$env")
    # d=5 SEQUENCEs: the recipient's IssuerAndSerialNumber, its keyEncryptionAlgorithm, and
    # the contentEncryptionAlgorithm parameters, in this order.
    line=$(grep 'd=5 .*cons: *SEQUENCE' <<<"$parse" | head -1)
    whole "$env" "$line" >"$name.rid.der"
    line=$(grep 'd=5 .*cons: *SEQUENCE' <<<"$parse" | tail -1)
    whole "$env" "$line" >"$name.content-params.der"
    line=$(grep 'd=5 .*OCTET STRING' <<<"$parse")
    contents "$env" "$line" >"$name.encryptedkey.der"
    line=$(grep 'd=4 .*cont \[ 0 \]' <<<"$parse")
    contents "$env" "$line" >"$name.ciphertext.bin"
}

: >vectors.txt
for recipient in "${recipients[@]}"; do
    read -r algorithm paramset <<<"$recipient"
    name=${algorithm}_${paramset}
    gost genpkey -algorithm "$algorithm" -pkeyopt "paramset:$paramset" -out "$name.key.pem"
    gost req -x509 -new -key "$name.key.pem" -subj "/CN=kvext cms $name" -days 3650 \
        -out "$name.cert.pem"
    public_key_of "$name"
    gost cms -encrypt -gost89 -binary -in plain.bin -outform DER -out "$name.env.der" \
        "$name.cert.pem"
    gost cms -decrypt -inform DER -in "$name.env.der" -recip "$name.cert.pem" \
        -inkey "$name.key.pem" | cmp -s - plain.bin ||
        { echo "$name: openssl does not decrypt its own envelope" >&2; exit 1; }
    take_apart "$name"
    echo "$name ${algorithmOid[$algorithm]}" >>vectors.txt
done
