#!/usr/bin/env bash
# Makes the structure-codec vectors with openssl. Run from this directory; the outputs are
# committed, so the tests do not need to run this.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A self-signed certificate whose private-key usage period extension (2.5.29.16) is built by
# openssl's generic ASN.1 extension syntax; the extension value is cut out with asn1parse.
cat > "$work/pkup.cnf" <<'CNF'
[req]
distinguished_name = dn
x509_extensions = ext
prompt = no
[dn]
CN = usage period test
[ext]
2.5.29.16 = ASN1:SEQUENCE:period
[period]
notBefore = IMPLICIT:0,GENTIME:20100301101112Z
notAfter = IMPLICIT:1,GENTIME:20491231235959Z
CNF
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/key.pem" \
    -config "$work/pkup.cnf" -days 1 -out "$work/pkup.pem" 2>/dev/null
openssl x509 -in "$work/pkup.pem" -outform DER -out pkup_cert.der
# The extension's OCTET STRING holds the PrivateKeyUsagePeriod DER.
offset=$(openssl asn1parse -inform DER -in pkup_cert.der | grep -A2 ':X509v3 Private Key Usage Period' \
    | grep 'OCTET STRING' | head -n1 | cut -d: -f1 | tr -d ' ')
openssl asn1parse -inform DER -in pkup_cert.der -strparse "$offset" -noout -out pkup_ext.der
openssl asn1parse -inform DER -in pkup_ext.der > pkup_ext.txt
openssl x509 -inform DER -in pkup_cert.der -noout -text | grep -A1 'Usage Period' > pkup_cert.txt

# The same structure with only notAfter, and a store of two certificates' DER.
openssl asn1parse -genconf <(printf 'asn1=SEQUENCE:p\n[p]\nnotAfter=IMPLICIT:1,GENTIME:20300615083000Z\n') \
    -noout -out pkup_notafter.der
openssl asn1parse -inform DER -in pkup_notafter.der > pkup_notafter.txt

# IssuerSignTool (1.2.643.100.112): four UTF8Strings, two of them Cyrillic.
openssl asn1parse -genconf <(printf '%s\n' 'asn1=SEQUENCE:t' '[t]' \
    'a=FORMAT:UTF8,UTF8String:СКЗИ "Тест-КС2"' 'b=UTF8String:CA tool 2.0' \
    'c=FORMAT:UTF8,UTF8String:Сертификат № 1' 'd=UTF8String:cert 2') \
    -noout -out issuer_sign_tool.der
openssl asn1parse -inform DER -in issuer_sign_tool.der > issuer_sign_tool.txt

# Derive counters.
openssl asn1parse -genstr 'INTEGER:128' -noout -out derive_counter_128.der
openssl asn1parse -genstr 'INTEGER:4294967295' -noout -out derive_counter_max.der
