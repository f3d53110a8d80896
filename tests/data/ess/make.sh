#!/bin/sh
# Makes the ESS signing-certificate vectors of this directory with openssl alone.
#
# A throwaway root CA, an intermediate CA and a time-stamping authority are made with
# openssl req/x509; `openssl ts -reply` then signs one time-stamp response per
# configuration (SHA-1 SigningCertificate, SHA-256 and SHA-512 SigningCertificateV2, each
# with and without the issuer-serial chain), and the attribute value is cut out of the
# token with `openssl asn1parse -strparse`. Expected hashes, serial numbers and issuer
# names are what openssl reports for the certificates. The vectors with policies and the
# OtherSigningCertificate ones (openssl writes neither) come from `asn1parse -genconf`.
#
# Usage: tests/data/ess/make.sh   (rewrites the files next to this script)
set -eu

out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# ------------------------------------------------------------------ certificates

cat >ext.cnf <<'EOF'
[ ca ]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[ tsa ]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
subjectKeyIdentifier = hash
EOF

for who in root inter tsa; do
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out $who.key 2>/dev/null
done
# The root's serial has its top bit set, so its DER INTEGER needs a leading zero octet.
openssl req -x509 -new -key root.key -subj "/C=RU/O=libkvext test/CN=ESS Test Root" \
    -set_serial 0x9C1D2E3F405162738495 -days 7300 -out root.pem \
    -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign,cRLSign"
openssl req -new -key inter.key -subj "/C=RU/O=libkvext test/OU=Time stamping/CN=ESS Test Intermediate" |
    openssl x509 -req -CA root.pem -CAkey root.key -set_serial 20001 -days 3650 \
        -extfile ext.cnf -extensions ca -out inter.pem 2>/dev/null
openssl req -new -key tsa.key -subj "/C=RU/O=libkvext test/CN=ESS Test TSA" |
    openssl x509 -req -CA inter.pem -CAkey inter.key -set_serial 0x7F00A1 -days 3650 \
        -extfile ext.cnf -extensions tsa -out tsa.pem 2>/dev/null
cat inter.pem root.pem >chain.pem

# ------------------------------------------------------------------ time-stamp responses

section() { # name ess_cert_id_alg ess_cert_id_chain
    cat <<EOF
[ $1 ]
serial = $work/tsaserial
signer_cert = $work/tsa.pem
signer_key = $work/tsa.key
certs = $work/chain.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
accuracy = secs:1
ess_cert_id_alg = $2
ess_cert_id_chain = $3
EOF
}
{
    section sha1-signer sha1 no
    section sha1-chain sha1 yes
    section sha256-signer sha256 no
    section sha256-chain sha256 yes
    section sha512-signer sha512 no
    section sha512-chain sha512 yes
} >tsa.cnf
echo 01 >tsaserial
echo "data to be time-stamped" >data.txt
openssl ts -query -data data.txt -sha256 -cert -out query.tsq

# The DER of the value of the signed attribute `oidName` inside a time-stamp token: the one
# element of the attribute's SET, which follows the attribute type.
extract_attribute() { # token.der oidName out.der
    offset=$(openssl asn1parse -inform DER -in "$1" |
        awk -v oid=":$2" '
            found == 1 { found = 2; next }             # the SET header
            found == 2 { split($1, a, ":"); print a[1]; exit }
            index($0, oid) { found = 1 }')
    openssl asn1parse -inform DER -in "$1" -strparse "$offset" -noout -out "$3"
}

for config in sha1-signer sha1-chain sha256-signer sha256-chain sha512-signer sha512-chain; do
    openssl ts -reply -config tsa.cnf -section $config -queryfile query.tsq \
        -out $config.tsr 2>/dev/null
    openssl ts -reply -in $config.tsr -token_out -out $config.tok 2>/dev/null
    case $config in
    sha1-*) extract_attribute $config.tok id-smime-aa-signingCertificate "$out/sc-$config.der" ;;
    *) extract_attribute $config.tok id-smime-aa-signingCertificateV2 "$out/scv2-$config.der" ;;
    esac
done

# ------------------------------------------------------------------ expected values

# The issuer Name of a certificate as it stands in its TBSCertificate: the fourth element.
issuer_der() { # cert.pem out.der
    openssl x509 -in "$1" -outform DER -out "$1.der"
    offset=$(openssl asn1parse -inform DER -in "$1.der" |
        awk '/d=2/ { n++; if (n == 4) { split($1, a, ":"); print a[1]; exit } }')
    openssl asn1parse -inform DER -in "$1.der" -strparse "$offset" -noout -out "$2"
}
issuer_der inter.pem "$out/inter-issuer.der"
issuer_der root.pem "$out/root-issuer.der"

fingerprint() { # cert.pem digest
    openssl x509 -in "$1" -noout -fingerprint -"$2" | sed 's/.*=//; s/://g'
}
{
    echo "# What openssl reports for the certificates behind the vectors (make.sh)."
    for who in tsa inter root; do
        for digest in sha1 sha256 sha512; do
            echo "$who.$digest $(fingerprint $who.pem $digest)"
        done
        echo "$who.serial $(openssl x509 -in $who.pem -noout -serial | sed 's/.*=//')"
    done
} >"$out/expected.txt"

# ------------------------------------------------------------------ vectors openssl ts never writes

cat >policies.cnf <<'EOF'
asn1 = SEQUENCE:signingCertificate
[ signingCertificate ]
certs = SEQUENCE:certs
policies = SEQUENCE:policies
[ certs ]
cert1 = SEQUENCE:essCertID
[ essCertID ]
certHash = FORMAT:HEX,OCTETSTRING:A9993E364706816ABA3E25717850C26C9CD0D89D
[ policies ]
policy1 = SEQUENCE:cpsPolicy
policy2 = SEQUENCE:barePolicy
[ cpsPolicy ]
policyIdentifier = OID:1.2.643.100.113.1
policyQualifiers = SEQUENCE:qualifiers
[ qualifiers ]
q1 = SEQUENCE:cpsQualifier
q2 = SEQUENCE:noticeQualifier
q3 = SEQUENCE:emptyQualifier
[ cpsQualifier ]
policyQualifierId = OID:1.3.6.1.5.5.7.2.1
qualifier = IA5STRING:http://pki.example.test/cps
[ noticeQualifier ]
policyQualifierId = OID:1.3.6.1.5.5.7.2.2
qualifier = SEQUENCE:userNotice
[ userNotice ]
explicitText = UTF8String:Test use only
[ emptyQualifier ]
policyQualifierId = OID:1.2.3.4.5
[ barePolicy ]
policyIdentifier = OID:2.5.29.32.0
EOF
openssl asn1parse -genconf policies.cnf -noout -out "$out/sc-policies.der"


# OtherSigningCertificate: one bare SHA-1 hash with the intermediate's issuer and serial,
# one SHA-256 hash with its algorithm identifier (NULL parameters). The issuer Name is
# spelt out with the root's attributes and checked against the root's own encoding.
cat >name.cnf <<'EOF'
[ rootName ]
c = SET:c
o = SET:o
cn = SET:cn
[ c ]
atv = SEQUENCE:cAtv
[ cAtv ]
type = OID:countryName
value = PRINTABLESTRING:RU
[ o ]
atv = SEQUENCE:oAtv
[ oAtv ]
type = OID:organizationName
value = UTF8String:libkvext test
[ cn ]
atv = SEQUENCE:cnAtv
[ cnAtv ]
type = OID:commonName
value = UTF8String:ESS Test Root
EOF
{ echo "asn1 = SEQUENCE:rootName"; cat name.cnf; } >rootname.cnf
openssl asn1parse -genconf rootname.cnf -noout -out rootname.der
cmp rootname.der "$out/root-issuer.der"

cat >other.cnf <<EOF
asn1 = SEQUENCE:otherSigningCertificate
[ otherSigningCertificate ]
certs = SEQUENCE:certs
[ certs ]
cert1 = SEQUENCE:sha1CertID
cert2 = SEQUENCE:sha256CertID
[ sha1CertID ]
otherCertHash = FORMAT:HEX,OCTETSTRING:$(fingerprint inter.pem sha1)
issuerSerial = SEQUENCE:issuerSerial
[ issuerSerial ]
issuer = SEQUENCE:generalNames
serialNumber = INTEGER:0x$(openssl x509 -in inter.pem -noout -serial | sed 's/.*=//')
[ generalNames ]
directoryName = EXPLICIT:4,SEQUENCE:rootName
[ sha256CertID ]
otherCertHash = SEQUENCE:hashAlgAndValue
[ hashAlgAndValue ]
hashAlgorithm = SEQUENCE:sha256
hashValue = FORMAT:HEX,OCTETSTRING:$(fingerprint tsa.pem sha256)
[ sha256 ]
algorithm = OID:2.16.840.1.101.3.4.2.1
parameters = NULL
EOF
cat name.cnf >>other.cnf
openssl asn1parse -genconf other.cnf -noout -out "$out/other-mixed.der"

# The example host decodes three of them (tools/host/demos/SigningCertificates.cpp).
samples="$out/../../../tools/host/samples"
cp "$out/sc-sha1-chain.der" "$samples/signing_certificate.der"
cp "$out/scv2-sha512-chain.der" "$samples/signing_certificate_v2.der"
cp "$out/other-mixed.der" "$samples/other_signing_certificate.der"
