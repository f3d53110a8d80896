// The size of a decode's flat result is the one the structures' layouts give on the target the
// library is built for: tests/data/codecs/flat-sizes.txt lists it for 32- and 64-bit targets.
#include "kvext/kvext.h"

#include "common/EntryPoints.h"
#include "common/TraceFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

#define KV_CODEC(S)                                                                                \
    {                                                                                              \
#S,                                                                                        \
        {                                                                                          \
            OrvaDll##S##EncodeEx, OrvaDll##S##Encode, OrvaDll##S##DecodeEx, OrvaDll##S##Decode     \
        }                                                                                          \
    }

const std::map<std::string, kvtest::CodecEntryPoints> kCodecs = {
    KV_CODEC(OtherSigningCertificate),
    KV_CODEC(SigningCertificateV2),
    KV_CODEC(CrlDistributionPoints),
};

TEST(FlatSize, AsTheTargetsLayoutGivesIt)
{
    static_assert(sizeof(void *) == 4 || sizeof(void *) == 8);
    std::ifstream table(kvtest::DataPath("codecs/flat-sizes.txt"));
    int rows = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string codec, hex;
        DWORD size32 = 0, size64 = 0;
        fields >> codec >> size32 >> size64 >> hex;
        SCOPED_TRACE(line);
        std::vector<BYTE> der;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            der.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        DWORD cb = 0;
        ASSERT_TRUE(kvtest::DecodeEveryWay(kCodecs.at(codec), der, &cb));
        EXPECT_EQ(sizeof(void *) == 4 ? size32 : size64, cb);
        ++rows;
    }
    EXPECT_EQ(3, rows);
}

} // namespace
