// The names the library and the provider both define, listed once so that each side can be
// compiled in a file of its own: their headers spell the same names and cannot meet in one
// translation unit.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#define KV_GOST_VOCABULARY(X)                                                                      \
    X(ALG_GOST_SIGN_2001)                                                                          \
    X(ALG_GOST_SIGN_2012_256)                                                                      \
    X(ALG_GOST_SIGN_2012_512)                                                                      \
    X(ALG_GOST_DH_2001)                                                                            \
    X(ALG_GOST_DH_2012_256)                                                                        \
    X(ALG_GOST_DH_2012_512)                                                                        \
    X(ALG_GOST_DH_2001_EPHEM)                                                                      \
    X(ALG_GOST_DH_2012_256_EPHEM)                                                                  \
    X(ALG_GOST_DH_2012_512_EPHEM)                                                                  \
    X(ALG_GOST_AGREE_2001)                                                                         \
    X(ALG_GOST_AGREE_2012_256)                                                                     \
    X(ALG_GOST_AGREE_2012_512)                                                                     \
    X(ALG_GOST_28147)                                                                              \
    X(ALG_GOST_KEY_WRAP_DIVERS)                                                                    \
    X(ALG_GOST_KEY_WRAP_SIMPLE)                                                                    \
    X(KP_GOST_HASH_PARAMSET)                                                                       \
    X(KP_GOST_CIPHER_PARAMSET)                                                                     \
    X(KP_GOST_PUBKEY_PARAMSET)                                                                     \
    X(GOST_PUBKEY_MAGIC)                                                                           \
    X(GOST_SIMPLEBLOB_MAGIC)

// The blob structures' sizes and field offsets are compared as well.
#define KV_GOST_BLOB_LAYOUT(X)                                                                     \
    X(sizeof(GOST_PUBLICKEYBLOB_HEADER))                                                           \
    X(offsetof(GOST_PUBLICKEYBLOB_HEADER, Magic))                                                  \
    X(offsetof(GOST_PUBLICKEYBLOB_HEADER, BitLen))                                                 \
    X(sizeof(GOST_SIMPLEBLOB))                                                                     \
    X(offsetof(GOST_SIMPLEBLOB, Magic))                                                            \
    X(offsetof(GOST_SIMPLEBLOB, EncryptKeyAlgId))                                                  \
    X(offsetof(GOST_SIMPLEBLOB, bUkm))                                                             \
    X(offsetof(GOST_SIMPLEBLOB, bEncryptedKey))                                                    \
    X(offsetof(GOST_SIMPLEBLOB, bMacKey))

#define KV_VOCABULARY_ENTRY(name) {#name, static_cast<uint64_t>(name)},

using Vocabulary = std::map<std::string, uint64_t>;

// Defined in ProviderVocabulary.cpp, from the provider's header.
Vocabulary ProviderVocabulary();
