// Every structure codec refuses malformed DER with CRYPT_E_ASN1_ERROR, never with a runtime
// status, through DecodeEx and the non-Ex form (tests/data/codecs/malformed.txt).
#include "kvext/kvext.h"

#include "common/EntryPoints.h"
#include "common/FileTest.h"
#include "common/TraceFile.h"

#include <gtest/gtest.h>

#include <map>

namespace {

#define KV_CODEC(Name)                                                                             \
    {                                                                                              \
#Name,                                                                                     \
        {                                                                                          \
            OrvaDll##Name##EncodeEx, OrvaDll##Name##Encode, OrvaDll##Name##DecodeEx,               \
                OrvaDll##Name##Decode                                                              \
        }                                                                                          \
    }

const std::map<std::string, kvtest::CodecEntryPoints> kCodecs = {
    KV_CODEC(CrlDistributionPoints),
    KV_CODEC(GostPrivateCertificateStore),
    KV_CODEC(IssuerSignTool),
    KV_CODEC(OtherSigningCertificate),
    KV_CODEC(PrivateKeyUsagePeriod),
    KV_CODEC(SigningCertificate),
    KV_CODEC(SigningCertificateV2),
    {"PrivateKeyDeriveCounter",
     {nullptr, nullptr, OrvaDllPrivateKeyDeriveCounterDecodeEx,
      OrvaDllPrivateKeyDeriveCounterDecode}},
};

TEST(StructureCodecs, MalformedDerIsAsn1Error)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("codecs/malformed.txt")) {
        SCOPED_TRACE(c.where);
        const auto codec = kCodecs.find(c.Get("Codec"));
        ASSERT_NE(kCodecs.end(), codec);
        std::vector<std::vector<BYTE>> inputs;
        if (c.Has("DER")) inputs.push_back(c.Hex("DER"));
        if (c.Has("CutLast")) {
            inputs.push_back(kvtest::ReadDataFile(c.Get("CutLast")));
            inputs.back().pop_back();
        }
        // Truncate / TruncateDER: every proper prefix of a file or of the given octets.
        const std::vector<BYTE> whole =
            c.Has("Truncate") ? kvtest::ReadDataFile(c.Get("Truncate")) : c.Hex("TruncateDER");
        for (size_t cut = 1; cut < whole.size(); ++cut)
            inputs.emplace_back(whole.begin(), whole.begin() + static_cast<long>(cut));
        for (const auto &der : inputs)
            kvtest::ExpectDecodeFailure(codec->second, der, CRYPT_E_ASN1_ERROR);
    }
}

} // namespace
