// Shared by the tests of the ASN.1 codecs: one runtime context per test, encoding into the
// runtime's buffer, decoding from an exactly sized copy of the input (so that AddressSanitizer
// sees any read past its end), hex text and the vectors under tests/data/asn1.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/Asn1Types.h"
#include "common/FileTest.h"

namespace asn1test {

using Bytes = std::vector<unsigned char>;
template <typename T> using Encoder = int (*)(Asn1Context *, T *, ASN1TagType);
template <typename T> using Decoder = int (*)(Asn1Context *, T *, ASN1TagType, int);

using kvtest::FromHex; // spaces ignored
std::string ToHex(const Bytes &bytes);
Bytes ReadVector(const std::string &name); // a file of tests/data/asn1

struct Encoded {
    int status; // octets written, or the failure
    Bytes der;
};

class Context {
  public:
    Context();
    ~Context();
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;
    Asn1Context *get() { return &ctx_; }

    template <typename T> Encoded Encode(Encoder<T> encode, T *value)
    {
        if (xe_setp(&ctx_, nullptr, 0) != 0) return {ASN_E_NOMEM, {}};
        const int len = encode(&ctx_, value, ASN1EXPL);
        return Written(len);
    }

    // Decodes with tagging ASN1EXPL; the input copy lives as long as the context, as decoded
    // open types point into it.
    template <typename T> int Decode(Decoder<T> decode, const Bytes &der, T *value)
    {
        const int stat = SetInput(der);
        return stat != 0 ? stat : decode(&ctx_, value, ASN1EXPL, 0);
    }
    size_t Consumed() const { return ctx_.buffer.byteIndex; }

    // Zeroed block of the context heap.
    template <typename T> T *New() { return static_cast<T *>(ASN1MALLOCZ(&ctx_, sizeof(T))); }
    // Appends a new zeroed element to a list and returns it.
    template <typename T> T *Append(DList *list)
    {
        auto *elem = static_cast<T *>(rtDListNewNodeAndData(&ctx_, sizeof(T)));
        rtDListAppendNode(&ctx_, list, elem);
        return elem;
    }

    int ErrorStatus() const { return ctx_.errInfo.status; }
    std::vector<std::string> ErrorParameters() const;

  private:
    Encoded Written(int len);
    int SetInput(const Bytes &der);

    Asn1Context ctx_{};
    std::vector<std::unique_ptr<unsigned char[]>> inputs_;
};

// Decodes `der`, checks that all of it was read, encodes the value again and returns the
// new encoding (empty with a failure recorded by gtest when a step fails).
template <typename T> Bytes Reencode(Decoder<T> decode, Encoder<T> encode, const Bytes &der)
{
    Context ctx;
    T value{};
    const int stat = ctx.Decode(decode, der, &value);
    EXPECT_EQ(0, stat) << "decoding " << ToHex(der);
    if (stat != 0) return {};
    EXPECT_EQ(der.size(), ctx.Consumed());
    const Encoded again = ctx.Encode(encode, &value);
    EXPECT_LT(0, again.status);
    return again.der;
}

ASN1OBJID Oid(std::initializer_list<ASN1UINT> arcs);

} // namespace asn1test
