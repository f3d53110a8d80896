// Good encodings of every type: small ones written here by hand (several per type, with
// optional components present and absent and every CHOICE alternative) and the vectors
// openssl made (tests/data/asn1, see its README). The round-trip and malformed-input
// tests both run over them.
#pragma once

#include "Asn1TestSupport.h"

namespace asn1test {

struct Vector {
    std::string name;
    Bytes der;
    // Decodes `der` as the vector's type and, when that succeeds and the type has an
    // encoder, encodes the value again; gives the decoding status.
    int (*decodeThenEncode)(const Bytes &der);
    // Decode and encode again, checking each step; null for a type without encoder.
    Bytes (*reencode)(const Bytes &der);
    // What encoding gives back where the input is not DER (empty: `der` itself).
    Bytes expected = {};
};

const std::vector<Vector> &HandWrittenVectors();
const std::vector<Vector> &OpenSslVectors();

template <typename T, Decoder<T> D, Encoder<T> E> int DecodeThenEncode(const Bytes &der)
{
    Context ctx;
    T value{};
    const int stat = ctx.Decode(D, der, &value);
    if (stat == 0) ctx.Encode(E, &value);
    return stat;
}
template <typename T, Decoder<T> D> int DecodeOnly(const Bytes &der)
{
    Context ctx;
    T value{};
    return ctx.Decode(D, der, &value);
}
template <typename T, Decoder<T> D, Encoder<T> E> Bytes ReencodeAs(const Bytes &der)
{
    return Reencode(D, E, der);
}

#define KV_VECTOR(Type, name, der)                                                                 \
    asn1test::Vector                                                                               \
    {                                                                                              \
        std::string(#Type ": ") + name, der,                                                       \
            &asn1test::DecodeThenEncode<Type, asn1D_##Type, asn1E_##Type>,                         \
            &asn1test::ReencodeAs<Type, asn1D_##Type, asn1E_##Type>                                \
    }
#define KV_DECODE_ONLY_VECTOR(Type, name, der)                                                     \
    asn1test::Vector                                                                               \
    {                                                                                              \
        std::string(#Type ": ") + name, der, &asn1test::DecodeOnly<Type, asn1D_##Type>, nullptr    \
    }

} // namespace asn1test
