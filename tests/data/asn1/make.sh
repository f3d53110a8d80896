#!/bin/sh
# Regenerates the DER vectors of this folder with openssl (and its GOST engine for the
# GOST keys and the key transport). Keys are fresh on every run, so hashes, keys and
# serial numbers change; the tests depend only on the names and texts set below.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# slice IN OFFSET OUT: the complete element (identifier, length, contents) at OFFSET.
slice() {
    line=$(openssl asn1parse -inform DER -in "$1" | awk -v o="$2" '$1 + 0 == o { print; exit }')
    hl=$(echo "$line" | sed -E 's/.*hl= *([0-9]+).*/\1/')
    len=$(echo "$line" | sed -E 's/.* l= *([0-9]+).*/\1/')
    dd if="$1" of="$3" bs=1 skip="$2" count=$((hl + len)) status=none
}
# offset_after IN TEXT: offset of the element that follows the first line containing TEXT.
offset_after() {
    openssl asn1parse -inform DER -in "$1" |
        awk -v t="$2" 'found { print $1 + 0; exit } index($0, t) { found = 1 }'
}
# octets_after IN TEXT OUT: the DER held in the OCTET STRING that follows TEXT.
octets_after() {
    openssl asn1parse -inform DER -in "$1" -strparse "$(offset_after "$1" "$2")" -noout -out "$3"
}
# nth_at_depth IN DEPTH N: offset of the N-th element at DEPTH.
nth_at_depth() {
    openssl asn1parse -inform DER -in "$1" |
        awk -v d="d=$2 " -v n="$3" 'index($0, d) && ++seen == n { print $1 + 0; exit }'
}

# --- a certificate with a multi-valued RDN, every general-name form openssl's
# configuration knows, two distribution points and policies with CPS and user notice.
cat > cert.cnf <<'CNF'
[req]
distinguished_name = dn
prompt = no
x509_extensions = ext
[dn]
CN = unused
[ext]
subjectAltName = @san
crlDistributionPoints = dp1, dp2
certificatePolicies = ia5org, 1.2.643.100.113.1, @pol
[san]
URI.1 = http://www.example.com/path
DNS.1 = www.example.com
email.1 = user@example.com
IP.1 = 192.0.2.1
IP.2 = 2001:db8::1
dirName.1 = dir_sect
otherName.1 = 1.3.6.1.4.1.311.20.2.3;UTF8:user@example.com
RID.1 = 1.2.3.4.5
[dir_sect]
C = RU
O = Directory Org
CN = Directory Name
[dp1]
fullname = URI:http://crl.example.com/a.crl, URI:ldap://ldap.example.com/cn=CA
reasons = keyCompromise, CACompromise, AACompromise
CRLissuer = dirName:dir_sect
[dp2]
relativename = rel_sect
[rel_sect]
CN = Relative Name
[pol]
policyIdentifier = 1.2.3.4.5.6
CPS.1 = "http://cps.example.com/cps"
userNotice.1 = @notice
[notice]
explicitText = "Explicit notice text"
organization = "Example Org"
noticeNumbers = 1, 2, 3
CNF
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout cert.key \
    -config cert.cnf -multivalue-rdn -days 10 -outform DER -out cert.der \
    -subj "/C=RU/O=Example Org/OU=Unit One+CN=Test Certificate/emailAddress=test@example.com/serialNumber=12345"
slice cert.der "$(nth_at_depth cert.der 2 6)" "$here/name_subject.der"
octets_after cert.der "Subject Alternative Name" "$here/san_all_forms.der"
octets_after cert.der "CRL Distribution Points" "$here/crl_dist_points.der"
octets_after cert.der "Certificate Policies" "$here/policies.der"

# --- names and general names openssl's certificate configuration cannot make.
openssl asn1parse -genconf "$here/name_string_types.cnf" -noout -out "$here/name_string_types.der"
openssl asn1parse -genconf "$here/generalnames_x400_edi.cnf" -noout -out "$here/generalnames_x400_edi.der"
for f in oraddress_bounds oraddress_numeric oraddress_five_ous oraddress_long_surname; do
    openssl asn1parse -genconf "$here/$f.cnf" -noout -out "$here/$f.der"
done

# --- GOST public keys.
for keytype in gost2012_256:A gost2012_256:TCB gost2012_512:A gost2001:A; do
    alg=${keytype%:*} set=${keytype#*:}
    openssl genpkey -engine gost -algorithm "$alg" -pkeyopt "paramset:$set" -out g.key 2>/dev/null
    openssl pkey -engine gost -in g.key -pubout -outform DER -out "$here/spki_${alg}_$set.der" 2>/dev/null
done

# --- ESS signing-certificate attributes: from time-stamp replies (no issuerSerial) and
# from CAdES signatures (with issuerSerial).
cat > tsa.cnf <<'CNF'
[req]
distinguished_name = dn
prompt = no
x509_extensions = tsa_ext
[dn]
C = RU
O = Example TSA
CN = Time Stamping Unit
[tsa_ext]
extendedKeyUsage = critical, timeStamping
[v1]
serial = tsaserial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha1
ess_cert_id_chain = no
ordering = no
tsa_name = no
[v2]
serial = tsaserial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha512
ess_cert_id_chain = no
ordering = no
tsa_name = no
CNF
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout tsa.key \
    -config tsa.cnf -days 10 -out tsa.pem 2>/dev/null
echo hello > data.txt
echo 01 > tsaserial
openssl ts -query -data data.txt -sha256 -cert -out q.tsq
for v in v1 v2; do
    openssl ts -reply -queryfile q.tsq -signer tsa.pem -inkey tsa.key -config tsa.cnf \
        -section $v -out $v.tsr 2>/dev/null
done
slice v1.tsr "$(offset_after v1.tsr ":id-smime-aa-signingCertificate")" attr.der
slice attr.der "$(nth_at_depth attr.der 1 1)" "$here/signing_certificate_ts.der"
slice v2.tsr "$(offset_after v2.tsr ":id-smime-aa-signingCertificateV2")" attr.der
slice attr.der "$(nth_at_depth attr.der 1 1)" "$here/signing_certificate_v2_ts.der"
openssl cms -sign -cades -md sha1 -in data.txt -signer tsa.pem -inkey tsa.key -outform DER -out c1.p7
slice c1.p7 "$(offset_after c1.p7 ":id-smime-aa-signingCertificate")" attr.der
slice attr.der "$(nth_at_depth attr.der 1 1)" "$here/signing_certificate_cades.der"
openssl cms -sign -cades -md sha256 -in data.txt -signer tsa.pem -inkey tsa.key -outform DER -out c2.p7
slice c2.p7 "$(offset_after c2.p7 ":id-smime-aa-signingCertificateV2")" attr.der
slice attr.der "$(nth_at_depth attr.der 1 1)" "$here/signing_certificate_v2_cades.der"

# --- GOST key transport: CMS enveloped data for a GOST R 34.10-2012 recipient.
openssl req -x509 -engine gost -newkey gost2012_256 -pkeyopt paramset:A -nodes \
    -keyout gr.key -subj "/CN=GOST Recipient" -days 10 -out gr.pem 2>/dev/null
openssl cms -encrypt -engine gost -gost89 -in data.txt -outform DER -out env.der gr.pem 2>/dev/null
octets_after env.der "GOST R 34.11-2012 with 256 bit hash" "$here/gost_key_transport.der"
slice env.der "$(offset_after env.der ":GOST 28147-89")" "$here/gost28147_parameters.der"
