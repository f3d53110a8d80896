// Helpers shared by the ASN.1 runtime tests: a context that frees itself, hex vectors and
// a look at what the encoder wrote.
#ifndef KV_TESTS_ASN1RT_SUPPORT_H
#define KV_TESTS_ASN1RT_SUPPORT_H

#include "asn1rt.h"
#include "common/FileTest.h"

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
    return kvtest::FromHex(std::string(text));
}
using kvtest::ToHex;

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
