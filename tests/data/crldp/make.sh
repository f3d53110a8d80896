#!/bin/sh
# Makes the CRL distribution points vectors with openssl (run from anywhere; writes beside
# itself and the host's sample certificate under tools/host/samples).
#
#   <name>.pem  certificate made by `openssl req -x509` with the extension of <name>.cnf
#   <name>.der  the extension value (CRLDistPointsSyntax), cut out with asn1parse -strparse
#   <name>.txt  `openssl x509 -noout -ext crlDistributionPoints`: how openssl reads it
#
# x400-edi.der is built by hand from x400-edi.genconf (openssl has no config syntax for
# x400Address or ediPartyName); a certificate carrying it as a raw extension shows that
# openssl parses it. or-address.der, edi-party-1.der and edi-party-2.der are the names
# inside it on their own, as a caller hands them in a CERT_ALT_NAME_ENTRY blob.
set -eu
cd "$(dirname "$0")"
samples=../../../tools/host/samples

certificate() { # config, extension section, output pem
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout /dev/null \
        -config "$1" -extensions "$2" -days 7300 -out "$3"
}

extension_value() { # pem, output der: the OCTET STRING right after OID 2.5.29.31
    offset=$(openssl asn1parse -in "$1" |
        awk '/X509v3 CRL Distribution Points/ { found = 1; next }
             found && /OCTET STRING/ { sub(/:.*/, ""); print $1; exit }')
    openssl asn1parse -in "$1" -strparse "$offset" -noout -out "$2"
}

for name in all-forms relative-name; do
    certificate "$name.cnf" ext "$name.pem"
    extension_value "$name.pem" "$name.der"
    openssl x509 -in "$name.pem" -noout -ext crlDistributionPoints > "$name.txt"
done

genconf_root() { # section, output der: x400-edi.genconf with another root element
    sed "s/^asn1 = .*/asn1 = $1/" x400-edi.genconf > genconf.tmp
    openssl asn1parse -genconf genconf.tmp -noout -out "$2"
    rm -f genconf.tmp
}
genconf_root SEQUENCE:distPoints x400-edi.der
genconf_root SEQUENCE:orAddress or-address.der
genconf_root SEQUENCE:ediParty1 edi-party-1.der
genconf_root SEQUENCE:ediParty2 edi-party-2.der
openssl asn1parse -genconf utf8-uri.genconf -noout -out utf8-uri.der

cat > x400-edi.cnf <<CNF
[req]
distinguished_name = dn
prompt = no
[dn]
CN = crldp x400 and edi
[ext]
crlDistributionPoints = DER:$(od -An -v -tx1 x400-edi.der | tr -d ' \n')
CNF
certificate x400-edi.cnf ext x400-edi.pem
openssl x509 -in x400-edi.pem -noout -ext crlDistributionPoints > x400-edi.txt
rm -f x400-edi.cnf

openssl x509 -in all-forms.pem -outform DER -out "$samples/crldp-cert.der"
