// Helpers shared by the ASN.1 runtime tests: a context that frees itself, hex vectors and
// a look at what the encoder wrote.
#ifndef KV_TESTS_ASN1RT_SUPPORT_H
#define KV_TESTS_ASN1RT_SUPPORT_H

#include "asn1rt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace asn1rt_test {

using Bytes = std::vector<uint8_t>;

inline Bytes Hex(std::string_view text)
{
    Bytes out;
    int high = -1;
    for (const char c : text) {
        int nibble = -1;
        if (c >= '0' && c <= '9')
            nibble = c - '0';
        else if (c >= 'a' && c <= 'f')
            nibble = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            nibble = c - 'A' + 10;
        else
            continue; // spaces group the octets for the reader
        if (high < 0) {
            high = nibble;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | nibble));
            high = -1;
        }
    }
    return out;
}

inline std::string ToHex(const uint8_t *data, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; i++) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 0x0F];
    }
    return text;
}

inline std::string ToHex(const Bytes &bytes)
{
    return ToHex(bytes.data(), bytes.size());
}

// A runtime context for one test, ready to use and released at the end of the scope.
class TestContext {
  public:
    TestContext() { EXPECT_EQ(0, rtInitContext(&ctx_, nullptr)); }
    ~TestContext() { rtFreeContext(&ctx_); }
    TestContext(const TestContext &) = delete;
    TestContext &operator=(const TestContext &) = delete;

    Asn1Context *get() { return &ctx_; }
    operator Asn1Context *() { return &ctx_; }
    Asn1Context *operator->() { return &ctx_; }

    // What the encoder wrote so far, as hex.
    std::string EncodedHex() { return ToHex(xe_getp(&ctx_), ctx_.ebuf.size - ctx_.ebuf.byteIndex); }

    // Starts decoding a private copy of `der`, sized exactly, so an overread shows under ASan.
    int Decode(const Bytes &der)
    {
        input_ = std::make_unique<uint8_t[]>(der.size());
        std::copy(der.begin(), der.end(), input_.get());
        return xd_setp(&ctx_, input_.get(), static_cast<int>(der.size()), nullptr, nullptr);
    }
    size_t Position() const { return ctx_.buffer.byteIndex; }
    const uint8_t *Input() const { return input_.get(); }

  private:
    Asn1Context ctx_{};
    std::unique_ptr<uint8_t[]> input_;
};

} // namespace asn1rt_test

#endif
