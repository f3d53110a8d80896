#!/usr/bin/env python3
"""Writes decode.txt: enveloped data (RFC 5652, 6.1) built here element by element, well-formed
or broken in one place each, for the message decoder's test. The well-formed ones are
checked to parse with `openssl cms -cmsout -print` (run with --check).

Usage: make.py [--check] > decode.txt
"""
import subprocess
import sys

CASES = []


def length(n):
    if n < 0x80:
        return bytes([n])
    octets = n.to_bytes((n.bit_length() + 7) // 8, 'big')
    return bytes([0x80 | len(octets)]) + octets


def tlv(tag, *parts):
    contents = b''.join(parts)
    return bytes([tag]) + length(len(contents)) + contents


def indefinite(tag, *parts):
    return bytes([tag, 0x80]) + b''.join(parts) + b'\0\0'


def oid(dotted):
    arcs = [int(a) for a in dotted.split('.')]
    out = bytes([40 * arcs[0] + arcs[1]])
    for arc in arcs[2:]:
        chunk = [arc & 0x7F]
        arc >>= 7
        while arc:
            chunk.insert(0, 0x80 | (arc & 0x7F))
            arc >>= 7
        out += bytes(chunk)
    return tlv(0x06, out)


def integer(n):
    return tlv(0x02, bytes([n]))


ENVELOPED, SIGNED, DATA = '1.2.840.113549.1.7.3', '1.2.840.113549.1.7.2', '1.2.840.113549.1.7.1'
GOST2012_256 = '1.2.643.7.1.1.1.1'
KEY_ALG = tlv(0x30, oid(GOST2012_256),
              tlv(0x30, oid('1.2.643.2.2.35.1'), oid('1.2.643.7.1.1.2.2')))
CONTENT_ALG = tlv(0x30, oid('1.2.643.2.2.21'),
                  tlv(0x30, tlv(0x04, bytes(range(8))), oid('1.2.643.7.1.2.5.1.1')))
ISSUER = tlv(0x30, tlv(0x31, tlv(0x30, oid('2.5.4.3'), tlv(0x0C, b'kvext'))))
ISSUER_SERIAL = tlv(0x30, ISSUER, tlv(0x02, b'\x01\x02'))
ENCRYPTED_KEY = tlv(0x04, bytes(range(16)))
CIPHERTEXT = bytes(range(0x40, 0x50))
ORIGINATOR = tlv(0xA0, tlv(0xA1, KEY_ALG, tlv(0x03, b'\x00' + bytes(range(64)))))
UKM = tlv(0xA1, tlv(0x04, bytes(8)))
AGREE_ALG = tlv(0x30, oid('1.2.643.7.1.1.6.1'), tlv(0x30, oid('1.2.643.7.1.1.5.1.1')))
KEY_ID = tlv(0x80, b'KV')


def ktri(version=integer(2), rid=KEY_ID, alg=KEY_ALG, key=ENCRYPTED_KEY, extra=b''):
    return tlv(0x30, version, rid, alg, key, extra)


def rek(rid=tlv(0xA0, tlv(0x04, b'KV')), key=ENCRYPTED_KEY, extra=b''):
    return tlv(0x30, rid, key, extra)


def kari(version=integer(3), originator=ORIGINATOR, ukm=UKM, alg=AGREE_ALG, keys=None):
    return tlv(0xA1, version, originator, ukm, alg, tlv(0x30, rek()) if keys is None else keys)


def eci(inner=oid(DATA), alg=CONTENT_ALG, content=tlv(0x80, CIPHERTEXT)):
    return tlv(0x30, inner, alg, content)


def message(infos=None, version=integer(2), originator=b'', body=None, kind=oid(ENVELOPED),
            encrypted=None):
    infos = tlv(0x31, ktri()) if infos is None else infos
    encrypted = eci() if encrypted is None else encrypted
    body = version + originator + infos + encrypted if body is None else body
    return tlv(0x30, kind, tlv(0xA0, tlv(0x30, body)))


def case(name, data, steps, well_formed=False, note=None):
    CASES.append((name, data, steps, well_formed, note))


# The codes the steps name (see the legend written at the top of decode.txt).
OK, BADTAG, CORRUPT, EOD = '0', '0x8009310B', '0x80093103', '0x80093102'
MSG_TYPE, INDEX, NOT_READY = '0x80091004', '0x80091008', '0x80091010'


def ALL_BAD(code):
    """The whole message in the update(s), failing with code."""
    return f'update * 1 {code}'


BASE = message()
case('key transport by key identifier', BASE,
     'get 33 0 0x80091010; get 1 0 0 03000000; control 16 0 0x80091010; update 20 0 0; '
     'get 33 0 0x80091010; update * 1 0; get 1 0 0 03000000; get 33 0 0 01000000; get 36 0 0; '
     'get 36 1 0x80091008; get 4 0 0; get 15 0 0; get 2 0 0x8009100A; get 17 0 0x80091004; '
     'control 1 0 0x8009100C; control 16 1 0x80091008; control 16 -1 0x80070057; '
     'update 0 1 0x80091001', True)
case('the same, one octet an update', BASE, 'update * 1 0; get 33 0 0 01000000', True,
     'Chunk = 1')
case('key transport by issuer and serial number',
     message(tlv(0x31, ktri(integer(0), ISSUER_SERIAL))), 'update * 1 0; get 36 0 0', True)
case('key agreement with a UKM, keys by identifier and by issuer and serial number',
     message(tlv(0x31, kari(keys=tlv(0x30, rek(), rek(ISSUER_SERIAL))))),
     'update * 1 0; get 36 0 0; control 17 0 0x80091008 2; control 17 -1 0x80070057', True)
case('key agreement without a UKM, beside key transport',
     message(tlv(0x31, kari(ukm=b''), ktri())), 'update * 1 0; get 33 0 0 02000000; get 36 1 0', True)
case('an empty originatorInfo', message(originator=tlv(0xA0)), 'update * 1 0', True)
case('no encrypted content', message(encrypted=eci(content=b'')), 'update * 1 0', True)


def ber(infos, content):
    """Indefinite lengths from the ContentInfo down to the encrypted content."""
    encrypted = indefinite(0x30, oid(DATA), CONTENT_ALG, content)
    body = indefinite(0x30, integer(2), infos, encrypted)
    return indefinite(0x30, oid(ENVELOPED), indefinite(0xA0, body))


SEGMENTS = tlv(0x04, CIPHERTEXT[:5]) + tlv(0x04, CIPHERTEXT[5:])
case('indefinite lengths around a constructed content of two segments',
     ber(indefinite(0x31, ktri()), indefinite(0xA0, SEGMENTS)), 'update * 1 0; get 33 0 0 01000000',
     True, 'Chunk = 1')
case('a constructed content of definite length',
     message(encrypted=eci(content=tlv(0xA0, SEGMENTS))),
     'update * 1 0', True, 'Chunk = 3')

case('not a SEQUENCE', b'\x31' + BASE[1:], ALL_BAD(BADTAG))
case('signed data, not enveloped', message(kind=oid(SIGNED)), ALL_BAD(MSG_TYPE))
case('version not an INTEGER', message(version=tlv(0x04, b'\x02')), ALL_BAD(BADTAG))
case('no recipient infos', message(infos=b''), ALL_BAD(BADTAG))
case('an empty set of recipient infos', message(tlv(0x31)), ALL_BAD(CORRUPT))
case('a password recipient info', message(tlv(0x31, tlv(0xA3, integer(0)))), ALL_BAD(CORRUPT))
case('key transport: version of two octets',
     message(tlv(0x31, ktri(version=tlv(0x02, b'\x00\x02')))), ALL_BAD(CORRUPT))
case('key transport: recipient identifier of another tag',
     message(tlv(0x31, ktri(rid=tlv(0x81, b'KV')))), ALL_BAD(CORRUPT))
case('key transport: issuer and serial number with more after it',
     message(tlv(0x31, ktri(rid=tlv(0x30, ISSUER, tlv(0x02, b'\x01'), tlv(0x05))))),
     ALL_BAD(CORRUPT))
case('key transport: algorithm without its OID',
     message(tlv(0x31, ktri(alg=tlv(0x30, tlv(0x05))))), ALL_BAD(CORRUPT))
case('key transport: algorithm OID cut inside an arc',
     message(tlv(0x31, ktri(alg=tlv(0x30, tlv(0x06, b'\x2A\x85'))))), ALL_BAD(CORRUPT))
case('key transport: no encrypted key', message(tlv(0x31, ktri(key=b''))), ALL_BAD(CORRUPT))
case('key transport: more after the encrypted key',
     message(tlv(0x31, ktri(extra=tlv(0x05)))), ALL_BAD(CORRUPT))
case('key agreement: version of two octets',
     message(tlv(0x31, kari(version=tlv(0x02, b'\x00\x03')))), ALL_BAD(CORRUPT))
case('key agreement: originator not [0]',
     message(tlv(0x31, kari(originator=ORIGINATOR[2:]))), ALL_BAD(CORRUPT))
case('key agreement: originator by issuer and serial number',
     message(tlv(0x31, kari(originator=tlv(0xA0, ISSUER_SERIAL)))), ALL_BAD(CORRUPT))
case('key agreement: originator key of 8 unused bits',
     message(tlv(0x31, kari(originator=tlv(0xA0, tlv(0xA1, KEY_ALG, tlv(0x03, b'\x08\x00')))))),
     ALL_BAD(CORRUPT))
case('key agreement: originator key of no octets',
     message(tlv(0x31, kari(originator=tlv(0xA0, tlv(0xA1, KEY_ALG, tlv(0x03)))))),
     ALL_BAD(CORRUPT))
case('key agreement: UKM not an OCTET STRING',
     message(tlv(0x31, kari(ukm=tlv(0xA1, tlv(0x05))))), ALL_BAD(CORRUPT))
case('key agreement: no recipient encrypted keys',
     message(tlv(0x31, kari(keys=tlv(0x30)))), ALL_BAD(CORRUPT))
case('key agreement: a recipient encrypted key not a SEQUENCE',
     message(tlv(0x31, kari(keys=tlv(0x30, tlv(0x31))))), ALL_BAD(CORRUPT))
case('key agreement: key identifier not an OCTET STRING',
     message(tlv(0x31, kari(keys=tlv(0x30, rek(tlv(0xA0, tlv(0x05))))))), ALL_BAD(CORRUPT))
case('key agreement: recipient identifier of another tag',
     message(tlv(0x31, kari(keys=tlv(0x30, rek(tlv(0x81, b'KV')))))), ALL_BAD(CORRUPT))
case('key agreement: more after the encrypted key',
     message(tlv(0x31, kari(keys=tlv(0x30, rek(extra=tlv(0x05)))))), ALL_BAD(CORRUPT))
case('key agreement: issuer and serial number without the serial number',
     message(tlv(0x31, kari(keys=tlv(0x30, rek(tlv(0x30, ISSUER)))))), ALL_BAD(CORRUPT))
case('content algorithm missing', message(encrypted=tlv(0x30, oid(DATA), tlv(0x80, CIPHERTEXT))),
     ALL_BAD(BADTAG))
case('content algorithm without its OID', message(encrypted=eci(alg=tlv(0x30))), ALL_BAD(CORRUPT))
case('content type OID cut inside an arc', message(encrypted=eci(inner=tlv(0x06, b'\x2A\x86'))),
     ALL_BAD(CORRUPT))
case('encrypted content as an OCTET STRING, not [0]',
     message(encrypted=eci(content=tlv(0x04, CIPHERTEXT))), ALL_BAD(BADTAG))
case('a content segment not an OCTET STRING',
     message(encrypted=eci(content=tlv(0xA0, tlv(0x05, CIPHERTEXT)))), ALL_BAD(BADTAG))
case('a content segment longer than the content',
     message(encrypted=eci(content=b'\xA0\x12\x04\x20' + CIPHERTEXT)), ALL_BAD(CORRUPT))
case('a high-tag-number form', message(encrypted=eci(content=b'\x9F\x20\x10' + CIPHERTEXT)),
     ALL_BAD(BADTAG))
case('an indefinite length on a primitive element',
     message(infos=tlv(0x31, ktri(key=b'\x04\x80' + ENCRYPTED_KEY[2:] + b'\0\0'))),
     ALL_BAD(CORRUPT))
nested = ktri()
for _ in range(40):
    nested = indefinite(0x30, nested)
case('recipient infos nested deeper than the decoder follows', message(tlv(0x31, nested)),
     ALL_BAD(CORRUPT))
INSIDE = BASE[3:]  # the ContentInfo's contents (its length takes two octets)
assert BASE[:2] == b'\x30\x81' and BASE[2] == len(INSIDE)
case('ContentInfo shorter than its content', b'\x30\x81' + bytes([len(INSIDE) - 8]) + INSIDE,
     ALL_BAD(CORRUPT))
case('octets after the ContentInfo', BASE + b'\0\0', ALL_BAD(CORRUPT))
case('cut inside the head', BASE[:40], ALL_BAD(EOD))
case('cut inside the content', BASE[:-3], ALL_BAD(EOD))
INDEFINITE = ber(tlv(0x31, ktri()), indefinite(0xA0, SEGMENTS))
case('indefinite lengths, the last end-of-contents missing', INDEFINITE[:-2], ALL_BAD(EOD))
case('indefinite lengths, end-of-contents not zero', INDEFINITE[:-1] + b'\x01', ALL_BAD(CORRUPT))

case('key transport: algorithm without parameters',
     message(tlv(0x31, ktri(alg=tlv(0x30, oid(GOST2012_256))))), 'update * 1 0', True)
case('an indefinite content inside definite lengths',
     message(encrypted=eci(content=indefinite(0xA0, SEGMENTS))), 'update * 1 0', True, 'Chunk = 7')
case('indefinite lengths and no encrypted content', ber(tlv(0x31, ktri()), b''),
     'update * 1 0; control 17 3 0x80091008', True)
case('key transport: version not an INTEGER',
     message(tlv(0x31, ktri(version=tlv(0x04, b'\x02')))), ALL_BAD(CORRUPT))
case('key transport: algorithm not a SEQUENCE',
     message(tlv(0x31, ktri(alg=tlv(0x04, oid(GOST2012_256))))), ALL_BAD(CORRUPT))
case('key transport: issuer not a Name',
     message(tlv(0x31, ktri(integer(0), tlv(0x30, tlv(0x02, b'\x01'), tlv(0x02, b'\x01'))))),
     ALL_BAD(CORRUPT))
case('key agreement: version not an INTEGER',
     message(tlv(0x31, kari(version=tlv(0x04, b'\x03')))), ALL_BAD(CORRUPT))
case('key agreement: more after the originator key',
     message(tlv(0x31, kari(originator=tlv(0xA0, ORIGINATOR[2:], tlv(0x05))))), ALL_BAD(CORRUPT))
case('key agreement: originator algorithm not a SEQUENCE',
     message(tlv(0x31, kari(originator=tlv(0xA0, tlv(0xA1, tlv(0x05), tlv(0x03, b'\x00\x01')))))),
     ALL_BAD(CORRUPT))
case('key agreement: originator without its key',
     message(tlv(0x31, kari(originator=tlv(0xA0, tlv(0xA1, KEY_ALG))))), ALL_BAD(CORRUPT))
case('key agreement: more after the originator key bits',
     message(tlv(0x31, kari(originator=tlv(0xA0, tlv(0xA1, KEY_ALG, tlv(0x03, b'\x00\x01'),
                                                     tlv(0x05)))))), ALL_BAD(CORRUPT))
case('key agreement: UKM longer than what holds it',
     message(tlv(0x31, kari(ukm=b'\xA1\x50'))), ALL_BAD(CORRUPT))
case('key agreement: more after the UKM',
     message(tlv(0x31, kari(ukm=tlv(0xA1, tlv(0x04, bytes(8)), tlv(0x05))))), ALL_BAD(CORRUPT))
case('key agreement: key-encryption algorithm not a SEQUENCE',
     message(tlv(0x31, kari(alg=tlv(0x05)))), ALL_BAD(CORRUPT))
case('key agreement: recipient encrypted keys not a SEQUENCE',
     message(tlv(0x31, kari(keys=tlv(0x31, rek())))), ALL_BAD(CORRUPT))
case('key agreement: more after the recipient encrypted keys',
     message(tlv(0x31, kari(keys=tlv(0x30, rek()) + tlv(0x05)))), ALL_BAD(CORRUPT))
case('key agreement: no encrypted key', message(tlv(0x31, kari(keys=tlv(0x30, rek(key=b''))))),
     ALL_BAD(CORRUPT))
case('content algorithm OID not first',
     message(encrypted=eci(alg=tlv(0x30, tlv(0x05), oid('1.2.643.2.2.21')))), ALL_BAD(CORRUPT))
case('content algorithm OID cut inside an arc',
     message(encrypted=eci(alg=tlv(0x30, tlv(0x06, b'\x2A\x86')))), ALL_BAD(CORRUPT))
case('content type OID of no octets', message(encrypted=eci(inner=tlv(0x06))), ALL_BAD(CORRUPT))
case('content type OID with an arc of more than 64 bits',
     message(encrypted=eci(inner=tlv(0x06, b'\x2A' + b'\xFF' * 10 + b'\x01'))), ALL_BAD(CORRUPT))
case('a high-tag-number form for the version', message(version=b'\x1F\x02\x01\x02'),
     ALL_BAD(BADTAG))
case('a content segment of a high-tag-number form',
     message(encrypted=eci(content=tlv(0xA0, b'\x1F\x04\x01\x00'))), ALL_BAD(BADTAG))
case('opened for signed data', None, 'update * 1 0x80070057; get 1 0 0x80070057; '
     'control 16 0 0x80070057', note='File = cms/gost2012_256_A.env.der\nType = 2\nOpenError = 0x80091004')
case('opened for another encoding', None, 'update * 1 0x80070057',
     note='File = cms/gost2012_256_A.env.der\nEncoding = 2\nOpenError = 0x80070057')

# Made by OpenSSL (tests/data/cms): decrypted with the recipient's container.
OPENSSL = 'File = cms/gost2012_256_A.env.der\nKey = cms/gost2012_256_A.key.pem'
case('key in before the last update, no stream', None,
     'update 400 0 0; control 16 0 0; get 2 0 0x80091010; update * 1 0; '
     'get 2 0 0 cms/plain.bin; control 16 0 0x80091009', note=OPENSSL)
case('key in after the last update, no stream', None,
     'update * 1 0; get 2 0 0x8009100A; control 16 0 0; get 2 0 0 cms/plain.bin', note=OPENSSL)
case('key in after the last update, streamed', None,
     'update * 1 0; control 16 0 0; get 2 0 0x80070057',
     note=OPENSSL + '\nStream = cms/plain.bin')


def check(data):
    done = subprocess.run(['openssl', 'cms', '-cmsout', '-print', '-inform', 'DER'],
                          input=data, capture_output=True)
    return done.returncode == 0


HEADER = """\
# Enveloped data for the message decoder (tests/platform/msg/DecodeCasesTest.cpp), written by
# make.py: well-formed (each parses with `openssl cms -cmsout -print`) or broken in one place.
# Steps run in order on one decode message, each with the code the call must fail with (0: it
# succeeds):
#   update N F E       the next N octets (* for the rest) in updates of Chunk octets (default:
#                      one update), the last one with fFinal F
#   get P I E [V]      CryptMsgGetParam of parameter P, index I; on success also a buffer one
#                      octet short (ERROR_MORE_DATA) and the value, compared with V: its octets
#                      in hex (a DWORD's little-endian), or a data file's
#   control T I E [K]  CryptMsgControl of type T with the para laid out from recipient info I
#                      (I -1: no recipient info in the para), recipient encrypted key K, and
#                      the provider of the container Key
# Encoding, Type: CryptMsgOpenToDecode's encoding type (default X509_ASN_ENCODING |
# PKCS_7_ASN_ENCODING) and message type (default 0), OpenError the code it fails with (steps
# then run on the null handle). File: the message is that data file instead of Input. Stream: the message is opened with a
# stream whose output must equal that data file.
# Codes: 0x80093102 CRYPT_E_ASN1_EOD, 0x80093103 CRYPT_E_ASN1_CORRUPT, 0x8009310B
# CRYPT_E_ASN1_BADTAG, 0x80091001 CRYPT_E_MSG_ERROR, 0x80091004 CRYPT_E_INVALID_MSG_TYPE,
# 0x80091008 CRYPT_E_INVALID_INDEX, 0x80091009 CRYPT_E_ALREADY_DECRYPTED, 0x8009100A
# CRYPT_E_NOT_DECRYPTED, 0x8009100C CRYPT_E_CONTROL_TYPE, 0x80091010
# CRYPT_E_STREAM_MSG_NOT_READY, 0x80070057 E_INVALIDARG.
# Parameters: 1 type, 2 content, 4 inner content type, 15 content algorithm, 17 recipient count
# (PKCS #7 form, not kept), 33 CMS recipient count, 36 CMS recipient info. Controls: 16 key
# transport, 17 key agreement.
"""

if __name__ == '__main__':
    verify = '--check' in sys.argv
    out = [HEADER]
    for name, data, steps, well_formed, note in CASES:
        if verify and well_formed and not check(data):
            sys.exit(f'openssl and the case disagree: {name}')
        out.append(f'\nName = {name}\n')
        if data is not None:
            out.append(f'Input = {data.hex().upper()}\n')
        if note:
            out.append(note + '\n')
        out.append(f'Steps = {steps}\n')
    sys.stdout.write(''.join(out))
