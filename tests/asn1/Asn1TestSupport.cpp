#include "Asn1TestSupport.h"

#include <cctype>
#include <cstring>

#include "common/TraceFile.h"

namespace asn1test {

std::string ToHex(const Bytes &bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) out += ' ';
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

Bytes ReadVector(const std::string &name)
{
    const std::vector<unsigned char> data = kvtest::ReadDataFile("asn1/" + name);
    EXPECT_FALSE(data.empty()) << name;
    return Bytes(data.begin(), data.end());
}

Context::Context()
{
    EXPECT_EQ(0, rtInitContext(&ctx_, nullptr));
}

Context::~Context()
{
    rtFreeContext(&ctx_);
}

Encoded Context::Written(int len)
{
    if (len < 0) return {len, {}};
    // What the encoder says it wrote is exactly what lies in the buffer.
    EXPECT_EQ(static_cast<size_t>(len), ctx_.ebuf.size - ctx_.ebuf.byteIndex);
    const unsigned char *start = xe_getp(&ctx_);
    return {len, Bytes(start, start + len)};
}

int Context::SetInput(const Bytes &der)
{
    if (der.empty()) return ASN_E_ENDOFBUF;
    // An exactly sized block: a read past the input is a heap overflow ASan reports.
    inputs_.push_back(std::make_unique<unsigned char[]>(der.size()));
    std::memcpy(inputs_.back().get(), der.data(), der.size());
    return xd_setp(&ctx_, inputs_.back().get(), static_cast<int>(der.size()), nullptr, nullptr);
}

std::vector<std::string> Context::ErrorParameters() const
{
    std::vector<std::string> parms;
    for (ASN1UINT i = 0; i < ctx_.errInfo.parmcount && i < ASN_K_MAXERRP; ++i)
        parms.emplace_back(ctx_.errInfo.parms[i]);
    return parms;
}

ASN1OBJID Oid(std::initializer_list<ASN1UINT> arcs)
{
    ASN1OBJID oid{};
    for (ASN1UINT arc : arcs)
        oid.subid[oid.numids++] = arc;
    return oid;
}

} // namespace asn1test
