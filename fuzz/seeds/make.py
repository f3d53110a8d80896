#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/seeds/<target>/) from the OpenSSL-made
vectors in tests/data: envelope pieces for the key imports, certificate public keys for the
conversion, provider public-key blobs built around them for the export, and the structure
encodings for the round trip. Field layout: fuzz/FuzzInput.h."""
import os
import struct
import sys

here = os.path.dirname(os.path.abspath(__file__))
data = os.path.join(here, '..', '..', 'tests', 'data')


def read(path):
    with open(os.path.join(data, path), 'rb') as f:
        return f.read()


def fields(*parts):
    return b''.join(struct.pack('>H', len(p)) + p for p in parts)


def tlv(der, offset=0):
    """(tag, contents start, end) of the element at offset."""
    tag, first = der[offset], der[offset + 1]
    if first < 0x80:
        return tag, offset + 2, offset + 2 + first
    n = first & 0x7F
    length = int.from_bytes(der[offset + 2:offset + 2 + n], 'big')
    return tag, offset + 2 + n, offset + 2 + n + length


def children(der, offset=0):
    _, start, end = tlv(der, offset)
    out = []
    while start < end:
        _, _, stop = tlv(der, start)
        out.append(der[start:stop])
        start = stop
    return out


def oid(dotted):
    arcs = [int(a) for a in dotted.split('.')]
    body = bytes([40 * arcs[0] + arcs[1]])
    for arc in arcs[2:]:
        enc = [arc & 0x7F]
        arc >>= 7
        while arc:
            enc.insert(0, 0x80 | (arc & 0x7F))
            arc >>= 7
        body += bytes(enc)
    return bytes([0x06, len(body)]) + body


def seq(*parts):
    body = b''.join(parts)
    assert len(body) < 0x80
    return bytes([0x30, len(body)]) + body


def write(target, name, content):
    os.makedirs(os.path.join(here, target), exist_ok=True)
    with open(os.path.join(here, target, name), 'wb') as f:
        f.write(content)


cms = [line.split() for line in read('cms/vectors.txt').decode().splitlines()]
key_agree = {'1.2.643.2.2.19': '1.2.643.2.2.96', '1.2.643.7.1.1.1.1': '1.2.643.7.1.1.6.1',
             '1.2.643.7.1.1.1.2': '1.2.643.7.1.1.6.2'}
for selector, (name, algorithm) in enumerate(cms):
    base = 'cms/' + name
    transport = read(base + '.encryptedkey.der')
    content_params = read(base + '.content-params.der')
    write('import_key_trans_fuzz', name, bytes([selector]) + fields(transport, content_params))
    # The key transport's encrypted key and UKM are a key agreement's too.
    encrypted_key = children(transport)[0]
    transport_params = children(transport)[1]
    ukm_tlv = children(transport_params)[-1]
    _, start, end = tlv(ukm_tlv)
    ukm = ukm_tlv[start:end]
    param_set = children(transport_params)[0]
    for wrap in ('1.2.643.2.2.13.0', '1.2.643.2.2.13.1'):
        key_wrap = seq(oid(wrap), seq(param_set))
        write('import_key_agree_fuzz', name + '-' + wrap.rsplit('.', 1)[1],
              bytes([selector]) + fields(encrypted_key, ukm, key_agree[algorithm].encode(), key_wrap,
                                         algorithm.encode(), read(base + '.params.der'),
                                         read(base + '.pubkey.der'), content_params))

magic = 0x3147414D  # 'MAG1'
alg_ids = {'1.2.643.2.2.19': 0x2E23, '1.2.643.7.1.1.1.1': 0x2E49, '1.2.643.7.1.1.1.2': 0x2E3D}
for name, algorithm in (line.split() for line in read('keys/vectors.txt').decode().splitlines()):
    params = read('keys/%s.params.der' % name)
    public_key = read('keys/%s.pubkey.der' % name)
    raw = read('keys/%s.pubkey.raw' % name)
    write('convert_public_key_fuzz', name, fields(algorithm.encode(), params, public_key))
    header = struct.pack('<BBHIII', 0x06, 0x20, 0, alg_ids[algorithm], magic, 8 * len(raw))
    write('export_public_key_fuzz', name, header + params + raw)

codecs = [  # selector of round_trip_fuzz.cpp, encodings
    (0, ['codecs/pkup_cert.der', 'codecs/pkup_ext.der', 'codecs/pkup_notafter.der']),
    (2, ['ess/sc-sha1-chain.der', 'ess/sc-sha1-signer.der', 'ess/sc-policies.der']),
    (3, ['ess/scv2-sha256-chain.der', 'ess/scv2-sha256-signer.der', 'ess/scv2-sha512-chain.der']),
    (4, ['ess/other-mixed.der']),
    (5, ['crldp/all-forms.der', 'crldp/relative-name.der', 'crldp/x400-edi.der',
         'crldp/edi-party-1.der', 'crldp/or-address.der']),
    (6, ['codecs/issuer_sign_tool.der']),
]
for selector, paths in codecs:
    for path in paths:
        write('round_trip_fuzz', path.replace('/', '-'), bytes([selector]) + read(path))
# A private certificate store (selector 1) holding one certificate: SET OF with a long length.
certificate = read('codecs/pkup_cert.der')
write('round_trip_fuzz', 'store-pkup_cert', bytes([1, 0x31, 0x82]) +
      len(certificate).to_bytes(2, 'big') + certificate)
