#!/usr/bin/env bash
# Makes the benchmark inputs with openssl's generic ASN.1 generator (asn1parse -genconf);
# run from anywhere, writes <name>.der beside itself. The outputs are committed.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

gen() { # name, genconf text on stdin
    cat > "$work/$1.cnf"
    openssl asn1parse -genconf "$work/$1.cnf" -noout -out "$1.der"
}

# A directory name used as an issuer below.
name_section() { # section name, common name
    cat <<CNF
[$1]
c = SET:$1c
o = SET:$1o
ou = SET:$1ou
cn = SET:$1cn
[$1c]
a = SEQUENCE:$1cv
[$1cv]
t = OID:countryName
v = PRINTABLESTRING:RU
[$1o]
a = SEQUENCE:$1ov
[$1ov]
t = OID:organizationName
v = UTF8String:libkvext benchmark
[$1ou]
a = SEQUENCE:$1ouv
[$1ouv]
t = OID:organizationalUnitName
v = UTF8String:Certification authority
[$1cn]
a = SEQUENCE:$1cnv
[$1cnv]
t = OID:commonName
v = UTF8String:$2
CNF
}

# CRLDistributionPoints, one point with one short URI.
gen crldp-short-uri <<'CNF'
asn1 = SEQUENCE:points
[points]
p = SEQUENCE:point
[point]
name = IMPLICIT:0,SEQUENCE:dpname
[dpname]
full = IMPLICIT:0,SEQUENCE:names
[names]
uri = IMPLICIT:6,IA5STRING:http://ca.example.org/ca1.crl
CNF

# Three points: two URIs each, reasons, an LDAP URI with a CRL issuer.
gen crldp-several <<'CNF'
asn1 = SEQUENCE:points
[points]
p1 = SEQUENCE:point1
p2 = SEQUENCE:point2
[point1]
name = IMPLICIT:0,SEQUENCE:dpname1
[dpname1]
full = IMPLICIT:0,SEQUENCE:names1
[names1]
uri1 = IMPLICIT:6,IA5STRING:http://ca.example.ru/a.crl
uri2 = IMPLICIT:6,IA5STRING:ldap://dp.ru/a
[point2]
name = IMPLICIT:0,SEQUENCE:dpname2
reasons = IMPLICIT:1,FORMAT:BITLIST,BITSTRING:1,3
[dpname2]
full = IMPLICIT:0,SEQUENCE:names2
[names2]
uri = IMPLICIT:6,IA5STRING:http://ca.example.org/d.crl
CNF

# One point with a long URI (a query string as some CAs publish).
gen crldp-long-uri <<CNF
asn1 = SEQUENCE:points
[points]
p = SEQUENCE:point
[point]
name = IMPLICIT:0,SEQUENCE:dpname
[dpname]
full = IMPLICIT:0,SEQUENCE:names
[names]
uri = IMPLICIT:6,IA5STRING:http://crl.example.org/distribution/$(printf 'segment%03d/' $(seq 1 29))crl-01.crl
CNF

# Every GeneralName form, in a full name and a CRL issuer, and a second point.
gen crldp-all-forms <<CNF
asn1 = SEQUENCE:points
[points]
p1 = SEQUENCE:point1
p2 = SEQUENCE:point2
[point1]
name = IMPLICIT:0,SEQUENCE:dpname1
reasons = IMPLICIT:1,FORMAT:BITLIST,BITSTRING:1,2,3,8
issuer = IMPLICIT:2,SEQUENCE:issuer1
[dpname1]
full = IMPLICIT:0,SEQUENCE:names1
[names1]
other = IMPLICIT:0,SEQUENCE:othername
mail = IMPLICIT:1,IA5STRING:crl-operator@example.org
dns = IMPLICIT:2,IA5STRING:crl.example.org
x400 = IMPLICIT:3,SEQUENCE:oraddress
dir = EXPLICIT:4,SEQUENCE:dirname
edi = IMPLICIT:5,SEQUENCE:ediparty
uri = IMPLICIT:6,IA5STRING:ldap://ldap.example.org/cn=Benchmark%20issuing%20CA,ou=Certification%20authority,o=libkvext%20benchmark,c=RU?certificateRevocationList;binary?one??
ip = IMPLICIT:7,FORMAT:HEX,OCTETSTRING:C0A80001
rid = IMPLICIT:8,OID:1.2.3.4.5.6.7
[othername]
type = OID:1.3.6.1.5.5.7.8.9
value = EXPLICIT:0,UTF8String:operator@example.org
[oraddress]
bca = SEQUENCE:bca
[bca]
country = EXPLICIT:1A,PRINTABLESTRING:RU
admd = EXPLICIT:2A,PRINTABLESTRING:ADMD
[ediparty]
assigner = EXPLICIT:0,UTF8String:Assigner
party = EXPLICIT:1,UTF8String:EDI party name
[point2]
name = IMPLICIT:0,SEQUENCE:dpname2
[dpname2]
full = IMPLICIT:0,SEQUENCE:names2
[names2]
uri = IMPLICIT:6,IA5STRING:http://p1.example.org/
[issuer1]
dir = EXPLICIT:4,SEQUENCE:dirname2
[dirname]
n = SET:dirn
[dirn]
a = SEQUENCE:dirnv
[dirnv]
t = OID:commonName
v = UTF8String:CRL directory
[dirname2]
$(name_section x 'Benchmark issuing CA' | sed -n '2,5p')
$(name_section x 'Benchmark issuing CA' | sed -n '6,$p')
CNF

# PrivateKeyUsagePeriod: notAfter only, and both.
gen pkup-notafter <<'CNF'
asn1 = SEQUENCE:period
[period]
notAfter = IMPLICIT:1,GENTIME:20300615083000Z
CNF
gen pkup-both <<'CNF'
asn1 = SEQUENCE:period
[period]
notBefore = IMPLICIT:0,GENTIME:20100301101112Z
notAfter = IMPLICIT:1,GENTIME:20491231235959Z
CNF

# SigningCertificate: a SHA-1 hash alone, and with the issuer and serial.
gen sc-sha1 <<'CNF'
asn1 = SEQUENCE:sc
[sc]
certs = SEQUENCE:certs
[certs]
id = SEQUENCE:id
[id]
hash = FORMAT:HEX,OCTETSTRING:8A8F6A2B51C4D0E93F6B2C4E7A1D5B0C9E3F2A41
CNF
gen sc-sha1-issuer <<CNF
asn1 = SEQUENCE:sc
[sc]
certs = SEQUENCE:certs
[certs]
id = SEQUENCE:id
[id]
hash = FORMAT:HEX,OCTETSTRING:8A8F6A2B51C4D0E93F6B2C4E7A1D5B0C9E3F2A41
issuerSerial = SEQUENCE:issuerserial
[issuerserial]
issuer = SEQUENCE:generalnames
serial = INTEGER:0x00A3C5E7092B4D6F8193A5C7E9
[generalnames]
dir = EXPLICIT:4,SEQUENCE:dirname
[dirname]
$(name_section x 'Benchmark Time-Stamping Authority, qualified electronic signature service of the benchmark suite, v2.1' | sed -n '2,$p')
CNF

# SigningCertificateV2: SHA-256 (the default algorithm, left out), and SHA-512 with issuer.
gen scv2-sha256 <<'CNF'
asn1 = SEQUENCE:sc
[sc]
certs = SEQUENCE:certs
[certs]
id = SEQUENCE:id
[id]
hash = FORMAT:HEX,OCTETSTRING:3B7F0C9E2D14A6B85F3C7E21D09A4B6C8E1F2037A5B9C3D4E6F708192A3B4C5D
CNF
gen scv2-sha512-issuer <<CNF
asn1 = SEQUENCE:sc
[sc]
certs = SEQUENCE:certs
[certs]
id = SEQUENCE:id
[id]
alg = SEQUENCE:sha512
hash = FORMAT:HEX,OCTETSTRING:$(printf '%s' 0F1E2D3C4B5A69788796A5B4C3D2E1F0 1122334455667788 99AABBCCDDEEFF00 0123456789ABCDEF FEDCBA9876543210 00112233445566778899AABBCCDDEEFF)
issuerSerial = SEQUENCE:issuerserial
[sha512]
alg = OID:sha512
[issuerserial]
issuer = SEQUENCE:generalnames
serial = INTEGER:0x7F00A1C3E5
[generalnames]
dir = EXPLICIT:4,SEQUENCE:dirname
[dirname]
$(name_section x 'Benchmark Time-Stamping Authority, qualified electronic signatures with SHA-512 certificate hashes, long-term archive service of the libkvext benchmark suite, operated for performance measurements of codecs, ed. 2 2026' | sed -n '2,$p')
CNF


# IssuerSignTool (1.2.643.100.112): the codec test vector (four UTF8Strings, two Cyrillic).
cp ../../tests/data/codecs/issuer_sign_tool.der issuer-sign-tool.der
