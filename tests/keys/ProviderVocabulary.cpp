// The provider's side of VocabularyTest, compiled with the provider's header only.
#include <gostcsp.h>

#include <cstddef>

#include "VocabularyNames.h"

Vocabulary ProviderVocabulary()
{
    return {KV_GOST_VOCABULARY(KV_VOCABULARY_ENTRY) KV_GOST_BLOB_LAYOUT(KV_VOCABULARY_ENTRY)};
}
