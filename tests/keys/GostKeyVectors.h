// The GOST public keys made by OpenSSL's GOST engine (tests/data/keys/make.sh) and the
// provider blobs they must become, built here byte by byte from the blob layout.
#pragma once

#include <wincrypt.h>

#include "common/TraceFile.h"

#include <gmock/gmock.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kvtest {

using Bytes = std::vector<BYTE>;

inline Bytes BytesOf(const CRYPT_DATA_BLOB &blob)
{
    return blob.pbData ? Bytes(blob.pbData, blob.pbData + blob.cbData) : Bytes();
}

inline CRYPT_DATA_BLOB BlobOf(const Bytes &bytes)
{
    return {static_cast<DWORD>(bytes.size()), const_cast<BYTE *>(bytes.data())};
}

struct GostKeyVector {
    std::string name;         // <algorithm>_<parameter set>, as make.sh names it
    std::string algorithmOid; // SubjectPublicKeyInfo.algorithm.algorithm
    Bytes params;             // the AlgorithmIdentifier parameters TLV
    Bytes publicKey;          // the subjectPublicKey contents: the GostR3410-PublicKey TLV
    Bytes rawKey;             // that OCTET STRING's contents
    Bytes spki;               // the whole SubjectPublicKeyInfo
    std::string keyPemPath;   // the key pair, usable as a provider container
};

inline std::vector<GostKeyVector> LoadGostKeyVectors()
{
    std::vector<GostKeyVector> vectors;
    std::ifstream list(DataPath("keys/vectors.txt"));
    for (std::string line; std::getline(list, line);) {
        GostKeyVector v;
        std::istringstream(line) >> v.name >> v.algorithmOid;
        const std::string base = "keys/" + v.name;
        v.params = ReadDataFile(base + ".params.der");
        v.publicKey = ReadDataFile(base + ".pubkey.der");
        v.rawKey = ReadDataFile(base + ".pubkey.raw");
        v.spki = ReadDataFile(base + ".spki.der");
        v.keyPemPath = DataPath(base + ".key.pem");
        vectors.push_back(v);
    }
    return vectors;
}

// Little-endian octets of a 32-bit field (the hosts we build on are little-endian).
inline void AppendLe32(Bytes *out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out->push_back(static_cast<BYTE>(value >> shift));
}

// A GOST public-key blob: bType, bVersion 0x20, reserved, aiKeyAlg, magic "MAG1",
// bit length, the parameters TLV, the key bytes.
inline Bytes GostPublicKeyBlob(BYTE bType, WORD reserved, ALG_ID aiKeyAlg, const Bytes &params,
                               const Bytes &rawKey)
{
    Bytes blob = {bType, 0x20, static_cast<BYTE>(reserved), static_cast<BYTE>(reserved >> 8)};
    AppendLe32(&blob, aiKeyAlg);
    blob.insert(blob.end(), {0x4D, 0x41, 0x47, 0x31});
    AppendLe32(&blob, static_cast<uint32_t>(8 * rawKey.size()));
    blob.insert(blob.end(), params.begin(), params.end());
    blob.insert(blob.end(), rawKey.begin(), rawKey.end());
    return blob;
}

inline CERT_PUBLIC_KEY_INFO PublicKeyInfoOf(const GostKeyVector &v)
{
    CERT_PUBLIC_KEY_INFO info{};
    info.Algorithm.pszObjId = const_cast<LPSTR>(v.algorithmOid.c_str());
    info.Algorithm.Parameters = BlobOf(v.params);
    info.PublicKey = {static_cast<DWORD>(v.publicKey.size()),
                      const_cast<BYTE *>(v.publicKey.data()), 0};
    return info;
}

// ALG_ID of a GOST R 34.10 public-key algorithm OID.
inline ALG_ID SignAlgIdOf(const std::string &oid)
{
    if (oid == "1.2.643.2.2.19") return 0x2E23;
    if (oid == "1.2.643.7.1.1.1.1") return 0x2E49;
    if (oid == "1.2.643.7.1.1.1.2") return 0x2E3D;
    return 0;
}

// The trace line of `message`, written under the name of the function that saw the failure.
inline auto TraceLineOf(const std::string &function, const std::string &message)
{
    return testing::AllOf(testing::StartsWith("kvext: " + function + "("),
                          testing::EndsWith("): " + message));
}

} // namespace kvtest
