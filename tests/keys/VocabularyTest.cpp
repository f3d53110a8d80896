// The library's GOST vocabulary agrees with the provider's, name by name and value by value.
#include "keys/GostVocabulary.h"

#include <gtest/gtest.h>

#include "VocabularyNames.h"

namespace {

TEST(GostVocabulary, AgreesWithTheProvider)
{
    const Vocabulary library = {KV_GOST_VOCABULARY(KV_VOCABULARY_ENTRY)
                                    KV_GOST_BLOB_LAYOUT(KV_VOCABULARY_ENTRY)};
    EXPECT_EQ(ProviderVocabulary(), library);
}

} // namespace
