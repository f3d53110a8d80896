// Feeds arbitrary octets to the ASN.1 runtime's decoders. Whatever the input, a decoder
// returns 0 or a negative status, never reads outside the input and leaves the position
// inside it; what decodes must encode again.
#include "asn1rt.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

using Decoder = std::function<int(Asn1Context *)>;

void Check(bool condition)
{
    if (!condition) std::abort();
}

// Takes the input element by element as open types; each lies inside the input.
void WalkOpenTypes(Asn1Context *ctx, const uint8_t *data, size_t size)
{
    const ASN1OCTET *element = nullptr;
    ASN1UINT numocts = 0;
    while (xd_OpenType(ctx, &element, &numocts) == 0) {
        Check(element >= data && numocts <= size && element + numocts <= data + size);
        Check(numocts >= 2);
    }
    Check(ctx->buffer.byteIndex <= size);
}

// Descends into constructed elements as a generated decoder would, headers only.
void WalkTree(Asn1Context *ctx, int depth)
{
    ASN1TAG tag = 0;
    int length = 0;
    if (depth > 64 || xd_tag_len(ctx, &tag, &length, XM_ADVANCE) != 0) return;
    if (!(tag & TM_CONS)) {
        Check(length >= 0 &&
              static_cast<size_t>(length) <= ctx->buffer.size - ctx->buffer.byteIndex);
        ctx->buffer.byteIndex += static_cast<size_t>(length);
        return;
    }
    Asn1Ccb ccb;
    xd_ccbInit(ctx, &ccb, length);
    while (xd_chkend(ctx, &ccb)) {
        const size_t before = ctx->buffer.byteIndex;
        WalkTree(ctx, depth + 1);
        if (ctx->buffer.byteIndex == before) return; // a malformed element stops the walk
    }
    xd_endcons(ctx, &ccb);
}

void RoundTripOid(const ASN1OBJID &oid)
{
    Asn1Context ctx{};
    Check(rtInitContext(&ctx, nullptr) == 0);
    std::unique_ptr<Asn1Context, decltype(&rtFreeContext)> release(&ctx, rtFreeContext);
    Check(xe_setp(&ctx, nullptr, 0) == 0);
    const int length = xe_objid(&ctx, &oid, ASN1EXPL);
    Check(length > 0);
    ASN1OBJID again{};
    Check(xd_setp(&ctx, xe_getp(&ctx), length, nullptr, nullptr) == 0);
    Check(xd_objid(&ctx, &again, ASN1EXPL, 0) == 0);
    Check(again.numids == oid.numids &&
          std::memcmp(again.subid, oid.subid, oid.numids * sizeof oid.subid[0]) == 0);
    std::string text(rtOidToStrLen(&oid) + 1, '\0');
    Check(rtOidToStr(&oid, text.data(), text.size()) != 0);
    Check(rtStrToOid(text.c_str(), &again) != 0 && again.numids == oid.numids);
}

const Decoder kDecoders[] = {
    [](Asn1Context *c) {
        ASN1INT v;
        return xd_integer(c, &v, ASN1EXPL, 0);
    },
    [](Asn1Context *c) {
        ASN1UINT v;
        return xd_unsigned(c, &v, ASN1EXPL, 0);
    },
    [](Asn1Context *c) {
        const char *t;
        return xd_bigint(c, &t, ASN1EXPL, 0);
    },
    [](Asn1Context *c) {
        ASN1BOOL v;
        return xd_boolean(c, &v, ASN1EXPL, 0);
    },
    [](Asn1Context *c) { return xd_null(c, ASN1EXPL); },
    [](Asn1Context *c) {
        ASN1OBJID oid{};
        const int status = xd_objid(c, &oid, ASN1EXPL, 0);
        if (status == 0) RoundTripOid(oid);
        return status;
    },
    [](Asn1Context *c) {
        const ASN1OCTET *d;
        ASN1UINT n;
        return xd_octstr(c, &d, &n, ASN1EXPL, 0);
    },
    [](Asn1Context *c) {
        const ASN1OCTET *d;
        ASN1UINT n;
        return xd_bitstr(c, &d, &n, ASN1EXPL, 0);
    },
    [](Asn1Context *c) {
        ASN1OCTET d[8];
        ASN1UINT n = sizeof d;
        return xd_octstr_s(c, d, &n, ASN1EXPL, 0);
    },
    [](Asn1Context *c) {
        ASN1OCTET d[2];
        ASN1UINT n = 9;
        return xd_bitstr_s(c, d, &n, ASN1EXPL, 0);
    },
    [](Asn1Context *c) {
        const char *t;
        return xd_charstr(c, &t, ASN1EXPL, ASN_ID_UTF8String, 0);
    },
    [](Asn1Context *c) {
        const char *t;
        const int status = xd_charstr(c, &t, ASN1EXPL, ASN_ID_GeneralTime, 0);
        Asn1DateTime dt{};
        if (status == 0 && rtParseGeneralizedTime(c, t, &dt) == 0) {
            char *made = nullptr;
            Check(dt.utc == 0 || rtMakeGeneralizedTime(c, &dt, &made, 0) == 0);
        }
        return status;
    },
    [](Asn1Context *c) {
        Asn116BitCharString s{};
        return xd_16BitCharStr(c, &s, ASN1EXPL, ASN_ID_BMPString, 0);
    },
    [](Asn1Context *c) {
        Asn132BitCharString s{};
        return xd_32BitCharStr(c, &s, ASN1EXPL, ASN_ID_UniversalString, 0);
    },
    // After an implicit [n] tag, in whichever form the input gives it.
    [](Asn1Context *c) {
        int length = 0;
        const char *t;
        const int status = xd_Tag1AndLen(c, &length);
        return status ? status : xd_charstr(c, &t, ASN1IMPL, ASN_ID_IA5String, length);
    },
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > INT32_MAX) return 0;
    Asn1Context ctx{};
    if (rtInitContext(&ctx, nullptr) != 0) return 0;
    std::unique_ptr<Asn1Context, decltype(&rtFreeContext)> release(&ctx, rtFreeContext);
    const int isize = static_cast<int>(size);
    ASN1TAG tag = 0;
    int length = 0;
    xd_setp(&ctx, data, isize, &tag, &length);
    WalkOpenTypes(&ctx, data, size);
    Check(xd_setp(&ctx, data, isize, nullptr, nullptr) == 0);
    WalkTree(&ctx, 0);
    for (const Decoder &decode : kDecoders) {
        Check(xd_setp(&ctx, data, isize, nullptr, nullptr) == 0);
        const int status = decode(&ctx);
        Check(status <= 0);
        Check(ctx.buffer.byteIndex <= size && ctx.depth == 0);
        if (status == ASN_E_IDNOTFOU) Check(ctx.buffer.byteIndex == 0);
    }
    const std::string text(reinterpret_cast<const char *>(data), size);
    Asn1DateTime dt{};
    rtParseGeneralizedTime(&ctx, text.c_str(), &dt);
    ASN1OBJID oid{};
    if (rtStrToOid(text.c_str(), &oid)) RoundTripOid(oid);
    rtUTF8Len(text.c_str());
    return 0;
}
