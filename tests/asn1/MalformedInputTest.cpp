// Damaged copies of every good encoding: a truncated one always fails, and no copy makes a
// decoder read outside its input (each input lies in an exactly sized heap block, which the
// sanitizer build watches) or an encoder trip over what the decoder left.
#include "Asn1Vectors.h"

using namespace asn1test;

namespace {

std::vector<Vector> AllVectors()
{
    std::vector<Vector> all = HandWrittenVectors();
    const std::vector<Vector> &openssl = OpenSslVectors();
    all.insert(all.end(), openssl.begin(), openssl.end());
    return all;
}

} // namespace

TEST(MalformedInput, TruncationsFail)
{
    for (const Vector &v : AllVectors()) {
        SCOPED_TRACE(v.name);
        for (size_t size = 0; size < v.der.size(); ++size) {
            const Bytes cut(v.der.begin(), v.der.begin() + static_cast<long>(size));
            EXPECT_GT(0, v.decodeThenEncode(cut)) << "kept " << size << " octets";
        }
    }
}

TEST(MalformedInput, SingleBitFlipsStayInBounds)
{
    size_t rejected = 0, flips = 0;
    for (const Vector &v : AllVectors()) {
        SCOPED_TRACE(v.name);
        Bytes damaged = v.der;
        for (size_t i = 0; i < damaged.size(); ++i) {
            for (int bit = 0; bit < 8; ++bit) {
                damaged[i] ^= static_cast<unsigned char>(1u << bit);
                const int stat = v.decodeThenEncode(damaged);
                EXPECT_LE(stat, 0);
                rejected += stat < 0;
                ++flips;
                damaged[i] = v.der[i];
            }
        }
    }
    // Most flips hit tags and lengths that no longer fit; those in contents may decode.
    EXPECT_GT(rejected, flips / 10);
}
