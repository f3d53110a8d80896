// GOST R 34.10 key families, their parameter sets and the small DER pieces the provider
// reads and writes (parameter-set OIDs, Gost28147-89-BlobParameters).
#pragma once

#include "gostcsp.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvcsp {

// One GOST R 34.10 key family: its algorithm identifiers and fixed OIDs.
struct KeyFamily {
    ALG_ID signAlgId;      // the public key's algorithm, reported in public-key blobs
    ALG_ID exchangeAlgId;  // a container's key-exchange key
    ALG_ID ephemeralAlgId; // an ephemeral key-exchange key
    int nid;               // OpenSSL's NID of the public-key algorithm
    const char *keyOid;    // public-key algorithm OID (RFC 4491, RFC 9215)
    const char *digestOid; // the family's digest parameter set
    const char *defaultParamSet;
    DWORD keyBytes; // public key bytes in the GostR3410-PublicKey OCTET STRING
};

// The family an identifier belongs to (any of its sign, exchange or ephemeral ids), or null.
const KeyFamily *FamilyByAlgId(ALG_ID algId);
// The family of an OpenSSL key type, or null.
const KeyFamily *FamilyByNid(int nid);
// True when the family's curves include this public-key parameter set.
bool IsFamilyParamSet(const KeyFamily &family, std::string_view oid);

// The dotted OIDs of a DER SEQUENCE whose elements are OIDs: GostR3410-2001-PublicKeyParameters
// (publicKeyParamSet, digestParamSet, encryptionParamSet) or Gost28147-89-BlobParameters.
// Elements after the first that are no OIDs end the list. False when the DER is no SEQUENCE
// starting with an OID or does not fill exactly `der`.
bool DecodeOidSequence(std::span<const BYTE> der, std::vector<std::string> *oids);

// Gost28147-89-BlobParameters ::= SEQUENCE { encryptionParamSet Gost28147-89-ParamSet, ... }
std::vector<BYTE> EncodeBlobParameters(std::string_view paramSetOid);

// Length of the complete DER TLV at the start of `der`, or 0 when there is none.
size_t DerTlvLength(std::span<const BYTE> der);

} // namespace kvcsp
