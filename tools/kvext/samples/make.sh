#!/bin/sh
# Regenerates the bundled samples with openssl and its GOST engine: a GOST R 34.10-2012 CA,
# a certificate it issued carrying CRL distribution points, a freshest CRL, a private-key
# usage period and the issuer sign tool (1.2.643.100.112), a CRL, and a timestamp token whose
# signing-certificate-v2 attribute identifies the timestamping certificate and the CA by
# GOST R 34.11-2012 hashes, and a CAdES signature with the same attribute. Keys are fresh on every run; the tool tests' expected output is
# then made again with KV_TOOL_TESTS_UPDATE=1 ctest -R kvext_tool (and reviewed).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
gost() { cmd=$1; shift; openssl "$cmd" -engine gost "$@" 2>/dev/null; }

cat > ca.cnf <<'CNF'
[req]
distinguished_name = dn
prompt = no
x509_extensions = ca_ext
[dn]
C = RU
O = Example Trust Centre
CN = Example GOST CA
[ca_ext]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[user_ext]
basicConstraints = CA:false
keyUsage = critical, digitalSignature, keyEncipherment, keyAgreement
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:http://crl.example.ru/ca.crl, URI:ldap://ldap.example.ru/cn=Example%20GOST%20CA
freshestCRL = URI:http://crl.example.ru/delta.crl
2.5.29.16 = ASN1:SEQUENCE:usage_period
1.2.643.100.112 = ASN1:SEQUENCE:sign_tool
[usage_period]
notBefore = IMPLICIT:0,GENTIME:20260101000000Z
notAfter = IMPLICIT:1,GENTIME:20271231235959Z
[sign_tool]
signTool = FORMAT:UTF8,UTF8String:Signature tool "Sample-1" version 2.0
caTool = FORMAT:UTF8,UTF8String:CA tool "Sample-CA" version 2.0
signToolCert = FORMAT:UTF8,UTF8String:Certificate of conformity SF/124-0001
caToolCert = FORMAT:UTF8,UTF8String:Certificate of conformity SF/128-0002
[tsa_ext]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
[ca]
default_ca = ca_sect
[ca_sect]
database = index.txt
crlnumber = crlnumber
default_md = md_gost12_256
default_crl_days = 30
crl_extensions = crl_ext
[crl_ext]
authorityKeyIdentifier = keyid
freshestCRL = URI:http://crl.example.ru/delta.crl
[tsa]
default_tsa = tsa_sect
[tsa_sect]
serial = tsaserial
signer_digest = md_gost12_256
default_policy = 1.2.643.100.113.1
digests = md_gost12_256, sha256
ess_cert_id_alg = md_gost12_256
ess_cert_id_chain = yes
ordering = yes
tsa_name = yes
CNF

for who in ca user tsa; do
    gost genpkey -algorithm gost2012_256 -pkeyopt paramset:A -out $who.key
done
gost req -x509 -config ca.cnf -key ca.key -md_gost12_256 -days 3650 \
    -set_serial 0x01 -out ca.pem
gost req -new -config ca.cnf -key user.key -md_gost12_256 \
    -subj "/C=RU/O=Example Org/CN=Sample GOST User" -out user.csr
gost x509 -req -in user.csr -CA ca.pem -CAkey ca.key -md_gost12_256 -days 730 \
    -set_serial 0x1A2B3C4D -extfile ca.cnf -extensions user_ext -out user.pem
gost req -new -config ca.cnf -key tsa.key -md_gost12_256 \
    -subj "/C=RU/O=Example Org/CN=Sample Timestamping Unit" -out tsa.csr
gost x509 -req -in tsa.csr -CA ca.pem -CAkey ca.key -md_gost12_256 -days 730 \
    -set_serial 0x2B3C4D5E -extfile ca.cnf -extensions tsa_ext -out tsa.pem

# A CRL with one revoked certificate and a freshest-CRL pointer.
: > index.txt
echo 01 > crlnumber
gost ca -config ca.cnf -cert ca.pem -keyfile ca.key -revoke tsa.pem
gost ca -config ca.cnf -cert ca.pem -keyfile ca.key -gencrl -out crl.pem

# The timestamp token: a reply to a query for a document's GOST R 34.11-2012 hash. ts reads
# digest options before its -engine takes effect, so the engine comes from a configuration.
cat > engine.cnf <<'CNF'
openssl_conf = openssl_init
[openssl_init]
engines = engines
[engines]
gost = gost_engine
[gost_engine]
engine_id = gost
default_algorithms = ALL
CNF
export OPENSSL_CONF="$work/engine.cnf"
echo "A document to be timestamped." > document.txt
echo 01 > tsaserial
openssl ts -query -data document.txt -md_gost12_256 -cert -out query.tsq 2>/dev/null
openssl ts -reply -config ca.cnf -queryfile query.tsq -signer tsa.pem -inkey tsa.key \
    -chain ca.pem -token_out -out token.der >/dev/null 2>&1

# A CAdES signature of the same document by the user: its signing-certificate-v2 attribute
# identifies the user's certificate by its GOST R 34.11-2012 hash, with issuer and serial.
openssl cms -sign -cades -md md_gost12_256 -in document.txt -signer user.pem -inkey user.key \
    -outform DER -out signed.der

cp ca.pem "$here/ca.cert.pem"
cp user.pem "$here/user.cert.pem"
openssl x509 -in user.pem -outform DER -out "$here/user.cert.der"
cp tsa.pem "$here/tsa.cert.pem"
cp crl.pem "$here/ca.crl.pem"
cp user.key "$here/user.key.pem"
cp token.der "$here/timestamp.token.der"
cp signed.der "$here/signed.p7s"
