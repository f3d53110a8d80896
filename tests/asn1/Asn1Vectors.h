// Good encodings of every type: small ones written by hand (tests/data/asn1/vectors.txt:
// several per type, with optional components present and absent and every CHOICE
// alternative) and the vectors openssl made (openssl.txt there, see its README). The
// round-trip and malformed-input tests both run over them.
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

// Decodes `der` as the type named in vectors.txt: the status (which the context must have
// recorded too), and the error parameters the context holds.
int DecodeAs(const std::string &type, const Bytes &der, std::vector<std::string> *parameters);
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
template <typename T, Decoder<T> D>
int DecodeStatus(const Bytes &der, std::vector<std::string> *parameters)
{
    Context ctx;
    T value{};
    const int stat = ctx.Decode(D, der, &value);
    EXPECT_EQ(stat, ctx.ErrorStatus());
    *parameters = ctx.ErrorParameters();
    return stat;
}
template <typename T, Decoder<T> D, Encoder<T> E> Bytes ReencodeAs(const Bytes &der)
{
    return Reencode(D, E, der);
}

} // namespace asn1test
