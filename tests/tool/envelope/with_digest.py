#!/usr/bin/env python3
"""A certificate whose GOST public-key parameters name the digest too: with_digest.py IN OUT.

A TC26 curve's parameters may leave the digest set out (it follows from the key size); the
form with it, SEQUENCE { publicKeyParamSet, digestParamSet }, is the one every GOST key
exchange reads. The certificate is re-encoded (its signature no longer matches, which nothing
here checks).
"""
import sys

from der import encode, parse

DIGESTS = {  # the key algorithm's OID contents -> its digest set's
    bytes.fromhex('2a8503070101010' + '1'): bytes.fromhex('2a85030701010202'),
    bytes.fromhex('2a8503070101010' + '2'): bytes.fromhex('2a85030701010203'),
}
src, dst = sys.argv[1:3]
tree = parse(open(src, 'rb').read())
tbs = tree[0][2][0][2]
spki = tbs[6 if tbs[0][0] == 0xA0 else 5]
algorithm = spki[2][0][2]
parameters = algorithm[1][2]
if len(parameters) == 1:
    parameters.append([0x06, DIGESTS[algorithm[0][1]], None])
open(dst, 'wb').write(encode(tree))
