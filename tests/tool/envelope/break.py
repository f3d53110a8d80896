#!/usr/bin/env python3
"""Breaks an envelope of one key-transport recipient: break.py HOW IN OUT.

HOW: mac (a MAC octet changed), ukm (the 8-octet UKM cut to 7, lengths around it fixed),
truncated (the first 600 octets). The envelope is re-encoded from its parsed DER tree.
"""
import sys

from der import encode, parse


how, src, dst = sys.argv[1:4]
data = open(src, 'rb').read()
if how == 'truncated':
    open(dst, 'wb').write(data[:600])
    sys.exit()
tree = parse(data)
# ContentInfo / [0] / EnvelopedData / recipientInfos / KeyTransRecipientInfo / encryptedKey
ktri = tree[0][2][1][2][0][2][1][2][0]
encrypted_key = ktri[2][3]
transport = parse(encrypted_key[1])
session_key, parameters = transport[0][2][0][2], transport[0][2][1][2]
if how == 'mac':
    mac = session_key[1]
    mac[1] = bytes([mac[1][0] ^ 1]) + mac[1][1:]
elif how == 'ukm':
    ukm = parameters[-1]
    assert ukm[0] == 0x04 and len(ukm[1]) == 8
    ukm[1] = ukm[1][:7]
encrypted_key[1] = encode(transport)
open(dst, 'wb').write(encode(tree))
