// The runtime's encoders, decoders and text functions over the vectors of
// tests/data/asn1rt/*.txt: DER made by `openssl asn1parse -genstr`, X.690 examples and the
// malformed forms each decoder must refuse, with the value or status expected beside each.
#include "Asn1rtTestSupport.h"

#include "common/FileTest.h"

#include <functional>
#include <map>
#include <sstream>

using namespace asn1rt_test;
using kvtest::FileCase;

namespace {

int StatusOf(const FileCase &c)
{
    static const std::map<std::string, int> kNames = {
        {"0", 0},
        {"ASN_E_BUFOVFLW", ASN_E_BUFOVFLW},
        {"ASN_E_ENDOFBUF", ASN_E_ENDOFBUF},
        {"ASN_E_IDNOTFOU", ASN_E_IDNOTFOU},
        {"ASN_E_INVOBJID", ASN_E_INVOBJID},
        {"ASN_E_INVLEN", ASN_E_INVLEN},
        {"ASN_E_INVOPT", ASN_E_INVOPT},
        {"ASN_E_INVHEXS", ASN_E_INVHEXS},
        {"ASN_E_STROVFLW", ASN_E_STROVFLW},
        {"ASN_E_BADVALUE", ASN_E_BADVALUE},
        {"ASN_E_INTOVFLW", ASN_E_INTOVFLW},
        {"ASN_E_BADTAG", ASN_E_BADTAG},
        {"ASN_E_INVPARAM", ASN_E_INVPARAM},
    };
    const auto it = kNames.find(c.Get("Status", "0"));
    EXPECT_NE(kNames.end(), it) << c.where;
    return it == kNames.end() ? 1 : it->second;
}

ASN1TAG TagOf(const std::string &name)
{
    static const std::map<std::string, ASN1TAG> kTags = {
        {"IA5String", ASN_ID_IA5String},     {"UTF8String", ASN_ID_UTF8String},
        {"GeneralTime", ASN_ID_GeneralTime}, {"PrintableString", ASN_ID_PrintableString},
        {"BMPString", ASN_ID_BMPString},     {"UniversalString", ASN_ID_UniversalString},
    };
    const auto it = kTags.find(name);
    EXPECT_NE(kTags.end(), it) << name;
    return it == kTags.end() ? 0 : it->second;
}

std::vector<ASN1UINT> Arcs(const std::string &dotted)
{
    std::vector<ASN1UINT> arcs;
    for (size_t at = 0; at < dotted.size();) {
        const size_t dot = std::min(dotted.find('.', at), dotted.size());
        arcs.push_back(static_cast<ASN1UINT>(std::stoul(dotted.substr(at, dot - at))));
        at = dot + 1;
    }
    return arcs;
}

std::string Dotted(const ASN1OBJID &oid)
{
    std::string text;
    for (ASN1UINT i = 0; i < oid.numids; i++)
        text += (i ? "." : "") + std::to_string(oid.subid[i]);
    return text;
}

// "hex/bits" of a bit string value.
std::string BitsText(const ASN1OCTET *data, ASN1UINT bits)
{
    return ToHex(data, (bits + 7) / 8) + "/" + std::to_string(bits);
}

// A decoder: the status, and the value in the file's notation when it succeeds.
using Decoder = std::function<int(Asn1Context *, const FileCase &, std::string *)>;

template <class T, class Fn> Decoder Number(Fn fn)
{
    return [fn](Asn1Context *c, const FileCase &, std::string *value) {
        T v{};
        const int status = fn(c, &v, ASN1EXPL, 0);
        *value = std::to_string(v);
        return status;
    };
}

int OpenType(Asn1Context *c, const FileCase &, std::string *value)
{
    const ASN1OCTET *data = nullptr;
    ASN1UINT numocts = 0;
    const int status = xd_OpenType(c, &data, &numocts);
    *value = status == 0 ? ToHex(data, numocts) : "";
    return status;
}

const std::map<std::string, Decoder> &Decoders()
{
    static const std::map<std::string, Decoder> kDecoders = {
        {"int", Number<ASN1INT>(xd_integer)},
        {"unsigned", Number<ASN1UINT>(xd_unsigned)},
        {"uint16", Number<ASN1USINT>(xd_uint16)},
        {"enum", Number<ASN1INT>(xd_enum)},
        {"bool", Number<ASN1BOOL>(xd_boolean)},
        {"null",
         [](Asn1Context *c, const FileCase &, std::string *) { return xd_null(c, ASN1EXPL); }},
        {"bigint",
         [](Asn1Context *c, const FileCase &, std::string *value) {
             const char *text = nullptr;
             const int status = xd_bigint(c, &text, ASN1EXPL, 0);
             *value = text ? text : "";
             return status;
         }},
        {"oid", // a failure leaves the value alone
         [](Asn1Context *c, const FileCase &, std::string *value) {
             ASN1OBJID oid{};
             oid.numids = 7;
             const int status = xd_objid(c, &oid, ASN1EXPL, 0);
             *value = status == 0 || oid.numids != 7 ? Dotted(oid) : "";
             return status;
         }},
        {"octets",
         [](Asn1Context *c, const FileCase &, std::string *value) {
             const ASN1OCTET *data = nullptr;
             ASN1UINT numocts = 0;
             const int status = xd_octstr(c, &data, &numocts, ASN1EXPL, 0);
             *value = ToHex(data, numocts);
             return status;
         }},
        {"bits",
         [](Asn1Context *c, const FileCase &, std::string *value) {
             const ASN1OCTET *data = nullptr;
             ASN1UINT numbits = 0;
             const int status = xd_bitstr(c, &data, &numbits, ASN1EXPL, 0);
             *value = BitsText(data, numbits);
             return status;
         }},
        {"text",
         [](Asn1Context *c, const FileCase &v, std::string *value) {
             const char *text = nullptr;
             const int status = xd_charstr(c, &text, ASN1EXPL, TagOf(v.Get("Tag")), 0);
             *value = text ? text : "";
             return status;
         }},
        {"bmp",
         [](Asn1Context *c, const FileCase &, std::string *value) {
             Asn116BitCharString s{};
             const int status = xd_16BitCharStr(c, &s, ASN1EXPL, ASN_ID_BMPString, 0);
             value->assign(s.data, s.data + s.nchars);
             return status;
         }},
        {"universal",
         [](Asn1Context *c, const FileCase &, std::string *value) {
             Asn132BitCharString s{};
             const int status = xd_32BitCharStr(c, &s, ASN1EXPL, ASN_ID_UniversalString, 0);
             value->assign(s.data, s.data + s.nchars);
             return status;
         }},
        // A fixed-size field of Capacity octets (or bits) takes the value only when it fits.
        {"octets-fixed",
         [](Asn1Context *c, const FileCase &v, std::string *value) {
             ASN1OCTET field[3] = {0xEE, 0xEE, 0xEE};
             auto length = static_cast<ASN1UINT>(v.Number("Capacity"));
             const int status = xd_octstr_s(c, field, &length, ASN1EXPL, 0);
             *value = status == 0 ? ToHex(field, length) : ToHex(field, sizeof field);
             return status;
         }},
        {"bits-fixed",
         [](Asn1Context *c, const FileCase &v, std::string *value) {
             ASN1OCTET field[3] = {0xEE, 0xEE, 0xEE};
             auto length = static_cast<ASN1UINT>(v.Number("Capacity"));
             const int status = xd_bitstr_s(c, field, &length, ASN1EXPL, 0);
             *value = status == 0 ? BitsText(field, length) : ToHex(field, sizeof field);
             return status;
         }},
        {"opentype", OpenType},
        // Only looks at the header, then takes the element as an open type: both fail alike
        // and neither consumes anything on failure.
        {"header",
         [](Asn1Context *c, const FileCase &v, std::string *value) {
             ASN1TAG tag = 0;
             int length = 0;
             const int seek = xd_tag_len(c, &tag, &length, XM_SEEK);
             EXPECT_EQ(0u, c->buffer.byteIndex);
             const int status = OpenType(c, v, value);
             EXPECT_EQ(seek, status);
             if (status) {
                 EXPECT_EQ(0u, c->buffer.byteIndex);
             }
             return status;
         }},
        // A SEQUENCE walked as a generated decoder walks it, each component as an open type.
        {"sequence",
         [](Asn1Context *c, const FileCase &v, std::string *value) {
             int length = 0;
             if (const int status = xd_match1(c, 0x10, &length)) return status;
             Asn1Ccb ccb;
             xd_ccbInit(c, &ccb, length);
             std::string component;
             while (xd_chkend(c, &ccb)) {
                 if (const int status = OpenType(c, v, &component)) return status;
                 *value += (value->empty() ? "" : " ") + component;
             }
             return xd_endcons(c, &ccb);
         }},
    };
    return kDecoders;
}

// An encoder of the case's Value; returns the length or a status.
using Encoder = std::function<int(Asn1Context *, const FileCase &)>;

template <class T, class Fn> Encoder NumberOut(Fn fn)
{
    return [fn](Asn1Context *c, const FileCase &v) {
        const auto value = static_cast<T>(v.Number("Value"));
        return fn(c, &value, ASN1EXPL);
    };
}

std::pair<Bytes, ASN1UINT> BitsOf(const std::string &text)
{
    const size_t slash = text.find('/');
    return {Hex(text.substr(0, slash)), static_cast<ASN1UINT>(std::stoul(text.substr(slash + 1)))};
}

int EncodeInteger(Asn1Context *c, const FileCase &v, ASN1TagType form)
{
    const auto value = static_cast<ASN1INT>(v.Number("Value"));
    return xe_integer(c, &value, form);
}

const std::map<std::string, Encoder> &Encoders()
{
    static const std::map<std::string, Encoder> kEncoders = {
        {"int", NumberOut<ASN1INT>(xe_integer)},
        {"unsigned", NumberOut<ASN1UINT>(xe_unsigned)},
        {"uint16", NumberOut<ASN1USINT>(xe_uint16)},
        {"enum", NumberOut<ASN1INT>(xe_enum)},
        {"bool", NumberOut<ASN1BOOL>(xe_boolean)},
        {"null", [](Asn1Context *c, const FileCase &) { return xe_null(c, ASN1EXPL); }},
        {"bigint",
         [](Asn1Context *c, const FileCase &v) {
             return xe_bigint(c, v.Get("Value").c_str(), ASN1EXPL);
         }},
        {"oid", // more arcs than the value holds are claimed, not stored
         [](Asn1Context *c, const FileCase &v) {
             const std::vector<ASN1UINT> arcs = Arcs(v.Get("Value"));
             ASN1OBJID oid{static_cast<ASN1UINT>(arcs.size()), {}};
             std::copy_n(arcs.begin(), std::min<size_t>(arcs.size(), ASN_K_MAXSUBIDS), oid.subid);
             return xe_objid(c, &oid, ASN1EXPL);
         }},
        {"octets",
         [](Asn1Context *c, const FileCase &v) {
             const Bytes octets = Hex(v.Get("Value", ""));
             return xe_octstr(c, octets.empty() ? nullptr : octets.data(),
                              static_cast<ASN1UINT>(octets.size()), ASN1EXPL);
         }},
        {"bits",
         [](Asn1Context *c, const FileCase &v) {
             const auto [octets, bits] = BitsOf(v.Get("Value"));
             return xe_bitstr(c, octets.data(), bits, ASN1EXPL);
         }},
        {"text",
         [](Asn1Context *c, const FileCase &v) {
             return xe_charstr(c, v.Has("Value") ? v.Get("Value").c_str() : nullptr, ASN1EXPL,
                               TagOf(v.Get("Tag")));
         }},
        {"bmp",
         [](Asn1Context *c, const FileCase &v) {
             const std::string &text = v.Get("Value");
             const std::vector<ASN1USINT> chars(text.begin(), text.end());
             const Asn116BitCharString s{static_cast<ASN1UINT>(chars.size()), chars.data()};
             return xe_16BitCharStr(c, &s, ASN1EXPL, ASN_ID_BMPString);
         }},
        {"universal",
         [](Asn1Context *c, const FileCase &v) {
             const std::string &text = v.Get("Value");
             const std::vector<ASN1UINT> chars(text.begin(), text.end());
             const Asn132BitCharString s{static_cast<ASN1UINT>(chars.size()), chars.data()};
             return xe_32BitCharStr(c, &s, ASN1EXPL, ASN_ID_UniversalString);
         }},
        // Tag: the identifier xe_tag_len puts in front of an implicit or explicit INTEGER,
        // or of an implicit NULL; a Status instead of a length passes through it.
        {"implicit-int",
         [](Asn1Context *c, const FileCase &v) {
             return xe_tag_len(c, static_cast<ASN1TAG>(v.Number("Tag")),
                               v.Has("Value") ? EncodeInteger(c, v, ASN1IMPL) : StatusOf(v));
         }},
        {"explicit-int",
         [](Asn1Context *c, const FileCase &v) {
             return xe_tag_len(c, static_cast<ASN1TAG>(v.Number("Tag")),
                               EncodeInteger(c, v, ASN1EXPL));
         }},
        {"implicit-null",
         [](Asn1Context *c, const FileCase &v) {
             return xe_tag_len(c, static_cast<ASN1TAG>(v.Number("Tag")), xe_null(c, ASN1IMPL));
         }},
    };
    return kEncoders;
}

template <class Map>
const typename Map::mapped_type *Find(const Map &map, const FileCase &c, const char *key)
{
    const auto it = map.find(c.Get(key));
    EXPECT_NE(map.end(), it) << c.where << ": no such " << key;
    return it == map.end() ? nullptr : &it->second;
}

} // namespace

// Decode: the whole DER is consumed and gives Value, or the decoder fails with Status.
// Truncate: every proper prefix of the DER fails as well.
TEST(Asn1rtVectors, Decode)
{
    for (const FileCase &c : kvtest::ReadFileCases("asn1rt/decode.txt")) {
        SCOPED_TRACE(c.where);
        const Decoder *decode = Find(Decoders(), c, "Decode");
        if (!decode) continue;
        const Bytes der = Hex(c.Get("DER"));
        TestContext ctx;
        if (der.empty()) { // xd_setp wants input; an empty buffer is set up directly
            static const ASN1OCTET kNothing[1] = {0};
            ctx->buffer = Asn1DecodeBuffer{kNothing, 0, 0, 0, 0};
        } else {
            ASSERT_EQ(0, ctx.Decode(der));
        }
        std::string value;
        const int status = (*decode)(ctx, c, &value);
        EXPECT_EQ(StatusOf(c), status);
        if (status == 0) {
            EXPECT_EQ(der.size(), ctx.Position()) << "the whole value is consumed";
        }
        if (c.Has("Value")) {
            EXPECT_EQ(c.Get("Value"), value);
        }
        for (size_t size = 1; c.Has("Truncate") && size < der.size(); size++) {
            SCOPED_TRACE(size);
            TestContext cut;
            ASSERT_EQ(0,
                      cut.Decode(Bytes(der.begin(), der.begin() + static_cast<ptrdiff_t>(size))));
            EXPECT_GT(0, (*decode)(cut, c, &value));
        }
    }
}

// Encode: the Value gives exactly the DER, or the encoder fails with Status and writes nothing.
TEST(Asn1rtVectors, Encode)
{
    for (const FileCase &c : kvtest::ReadFileCases("asn1rt/encode.txt")) {
        SCOPED_TRACE(c.where);
        const Encoder *encode = Find(Encoders(), c, "Encode");
        if (!encode) continue;
        TestContext ctx;
        ASSERT_EQ(0, xe_setp(ctx, nullptr, 0));
        const int length = (*encode)(ctx, c);
        const Bytes der = Hex(c.Get("DER", ""));
        EXPECT_EQ(c.Has("DER") ? static_cast<int>(der.size()) : StatusOf(c), length);
        EXPECT_EQ(ToHex(der), ctx.EncodedHex());
    }
}

// Text forms: OID text parsed and printed (into room for it and its zero, not one less),
// GeneralizedTime text parsed into and made from the date record ("year month day hour
// minute second fraction digits offset utc"; made on the heap and into a caller buffer of
// its size, not one less), and UTF-8 character counts.
TEST(Asn1rtVectors, Text)
{
    for (const FileCase &c : kvtest::ReadFileCases("asn1rt/text.txt")) {
        SCOPED_TRACE(c.where);
        const std::string &kind = c.Get("Kind");
        const std::string text = c.Get("Text", "");
        if (kind == "oid") {
            ASN1OBJID oid{};
            oid.numids = 99;
            const bool valid = rtStrToOid(text.c_str(), &oid) != 0;
            ASSERT_EQ(!c.Has("Status"), valid);
            if (!valid) {
                EXPECT_EQ(99u, oid.numids); // left alone
                continue;
            }
            EXPECT_EQ(text.size(), rtOidToStrLen(&oid));
            std::vector<char> printed(text.size() + 1, 'x');
            EXPECT_EQ(0, rtOidToStr(&oid, printed.data(), text.size())); // no room for the zero
            EXPECT_EQ('x', printed[0]);
            ASSERT_NE(0, rtOidToStr(&oid, printed.data(), printed.size()));
            EXPECT_EQ(text, printed.data());
        } else if (kind == "time") {
            Asn1DateTime dt{};
            dt.year = 7;
            const int status = rtParseGeneralizedTime(nullptr, text.c_str(), &dt);
            EXPECT_EQ(StatusOf(c), status);
            if (status) {
                EXPECT_EQ(7, dt.year); // a failure leaves the record alone
                continue;
            }
            std::ostringstream fields;
            fields << dt.year << ' ' << dt.month << ' ' << dt.day << ' ' << dt.hour << ' '
                   << dt.minute << ' ' << dt.second << ' ' << dt.fraction << ' '
                   << dt.fractionDigits << ' ' << dt.diffMinutes << ' ' << int{dt.utc};
            EXPECT_EQ(c.Get("Value"), fields.str());
        } else if (kind == "make-time") {
            Asn1DateTime dt{};
            std::istringstream in(c.Get("Value"));
            int utc = 0;
            in >> dt.year >> dt.month >> dt.day >> dt.hour >> dt.minute >> dt.second >>
                dt.fraction >> dt.fractionDigits >> dt.diffMinutes >> utc;
            dt.utc = static_cast<ASN1BOOL>(utc);
            TestContext ctx;
            char *made = nullptr;
            EXPECT_EQ(StatusOf(c), rtMakeGeneralizedTime(ctx, &dt, &made, 0));
            EXPECT_EQ(text, made ? made : "");
            std::vector<char> buffer(text.size() + 2, 'x'); // into a caller buffer
            char *into = buffer.data();
            EXPECT_EQ(made ? ASN_E_STROVFLW : StatusOf(c),
                      rtMakeGeneralizedTime(nullptr, &dt, &into, text.size()));
            EXPECT_EQ('x', buffer[0]);
            EXPECT_EQ(StatusOf(c), rtMakeGeneralizedTime(nullptr, &dt, &into, text.size() + 1));
            EXPECT_EQ(text, made ? buffer.data() : "");
            EXPECT_EQ('x', buffer[text.size() + 1]);
            Asn1DateTime back{}; // what we make, we parse
            if (made) {
                EXPECT_EQ(0, rtParseGeneralizedTime(ctx, made, &back));
            }
        } else if (kind == "utf8") {
            const Bytes octets = c.Hex("Octets");
            const std::string chars(octets.begin(), octets.end());
            EXPECT_EQ(c.Number("Value"), rtUTF8Len(chars.c_str()));
        } else {
            ADD_FAILURE() << "no such Kind";
        }
    }
}

// An OID of no arcs has no text.
TEST(Asn1OidText, EmptyHasNoText)
{
    const ASN1OBJID empty{0, {}};
    char text[8];
    EXPECT_EQ(0, rtOidToStr(&empty, text, sizeof text));
    EXPECT_EQ(0u, rtOidToStrLen(&empty));
}
