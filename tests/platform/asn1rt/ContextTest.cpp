// Context, heap, error record and lists.
#include "Asn1rtTestSupport.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <utility>

using namespace asn1rt_test;
using ::testing::ElementsAre;
using ::testing::StrEq;

TEST(Asn1Context, InitAndFree)
{
    Asn1Context ctx{};
    EXPECT_EQ(ASN_E_INVPARAM, rtInitContext(&ctx, &ctx)); // the context makes its own heap
    ASSERT_EQ(0, rtInitContext(&ctx, nullptr));
    EXPECT_NE(nullptr, ctx.pMemHeap);
    EXPECT_NE(nullptr, ASN1MALLOC(&ctx, 100));
    ASSERT_EQ(0, xe_setp(&ctx, nullptr, 0));
    const ASN1INT value = 5;
    EXPECT_EQ(3, xe_integer(&ctx, &value, ASN1EXPL));
    rtFreeContext(&ctx); // heap and encode buffer go; LeakSanitizer checks the rest
    EXPECT_EQ(nullptr, ctx.pMemHeap);
    EXPECT_EQ(nullptr, ctx.ebuf.data);
    EXPECT_EQ(nullptr, ASN1MALLOC(&ctx, 1)); // a freed context has no heap to give from
    rtFreeContext(&ctx);                     // and freeing it again is harmless
}

// Every block is 16-byte aligned, usable over its full size and shares no octet with any
// other block, whatever mix of small, zero and own-block sizes is asked for: in a fresh
// heap, in the heaps that reuse the emptied blocks of the ones before, and in two contexts
// of one thread alive at once.
TEST(Asn1Heap, BlocksAreAlignedAndDisjoint)
{
    static const size_t kSizes[] = {0, 1, 7, 15, 16, 17, 100, 1000, 1024, 1025, 5000, 70000, 0, 3};
    for (int context = 0; context < 3; context++) {
        TestContext ctx, other;
        std::vector<std::pair<uintptr_t, size_t>> blocks;
        for (int round = 0; round < 40; round++) {
            for (const size_t size : kSizes) {
                SCOPED_TRACE(size);
                auto *block = static_cast<uint8_t *>(ASN1MALLOC(round % 4 ? ctx : other, size));
                ASSERT_NE(nullptr, block);
                EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(block) % 16);
                std::memset(block, 0xA5, size); // ASan reports a block smaller than asked for
                blocks.emplace_back(reinterpret_cast<uintptr_t>(block), std::max<size_t>(size, 1));
            }
        }
        std::sort(blocks.begin(), blocks.end());
        for (size_t i = 1; i < blocks.size(); i++)
            EXPECT_LE(blocks[i - 1].first + blocks[i - 1].second, blocks[i].first)
                << "blocks overlap";
    }
}

TEST(Asn1Heap, ZeroedBlocksAndFailures)
{
    TestContext ctx;
    for (int i = 0; i < 100; i++) // dirty the current block first
        std::memset(ASN1MALLOC(ctx, 40), 0xFF, 40);
    for (const size_t size : {size_t{40}, size_t{3000}}) {
        auto *block = static_cast<uint8_t *>(ASN1MALLOCZ(ctx, size));
        ASSERT_NE(nullptr, block);
        EXPECT_TRUE(std::all_of(block, block + size, [](uint8_t b) { return b == 0; }));
    }
    EXPECT_EQ(nullptr, ASN1MALLOC(ctx, SIZE_MAX));
    EXPECT_EQ(nullptr, ASN1MALLOC(ctx, SIZE_MAX / 2 + 1));
    void *noHeap = nullptr;
    EXPECT_EQ(nullptr, rtMemHeapAlloc(&noHeap, 8));
}

TEST(Asn1ErrInfo, StatusAndParameters)
{
    TestContext ctx;
    Asn1ErrInfo *err = &ctx->errInfo;
    EXPECT_EQ(0, rtErrAddStrParm(err, "pvalue->count"));
    EXPECT_EQ(0, rtErrAddIntParm(err, -2147483647 - 1));
    EXPECT_EQ(ASN_E_CONSVIO, rtErrSetData(err, ASN_E_CONSVIO, nullptr, 0));
    EXPECT_EQ(ASN_E_CONSVIO, err->status);
    ASSERT_EQ(2u, err->parmcount); // recording a status keeps what was attached
    EXPECT_THAT(err->parms[0], StrEq("pvalue->count"));
    EXPECT_THAT(err->parms[1], StrEq("-2147483648"));

    EXPECT_EQ(0, rtErrReset(err));
    EXPECT_EQ(0, err->status);
    EXPECT_EQ(0u, err->parmcount);

    const std::string longText(100, 'x'); // kept as far as a parameter slot holds
    EXPECT_EQ(0, rtErrAddStrParm(err, longText.c_str()));
    EXPECT_EQ(std::string(ASN_K_ERRPARMLEN - 1, 'x'), err->parms[0]);
    for (int i = 1; i < ASN_K_MAXERRP; i++)
        EXPECT_EQ(0, rtErrAddIntParm(err, i));
    EXPECT_GT(0, rtErrAddStrParm(err, "one too many"));
    EXPECT_EQ(static_cast<ASN1UINT>(ASN_K_MAXERRP), err->parmcount);
}

namespace {

struct Element {
    int value;
    alignas(16) uint8_t payload[24];
};

std::vector<int> WalkForward(const DList &list)
{
    std::vector<int> values;
    for (const DListNode *node = list.head; node; node = node->next)
        values.push_back(static_cast<const Element *>(node->data)->value);
    return values;
}

std::vector<int> WalkBackward(const DList &list)
{
    std::vector<int> values;
    for (const DListNode *node = list.tail; node; node = node->prev)
        values.push_back(static_cast<const Element *>(node->data)->value);
    return values;
}

} // namespace

// A list built with separate nodes and one built the way a decoder builds it (node and
// element in one block) walk the same both ways.
TEST(Asn1DList, AppendedAndDecoderBuiltListsWalkAlike)
{
    TestContext ctx;
    DList appended, decoded;
    rtDListInit(&appended);
    rtDListInit(&decoded);
    Element elements[3] = {{1, {}}, {2, {}}, {3, {}}};
    for (Element &element : elements)
        ASSERT_NE(nullptr, rtDListAppend(ctx, &appended, &element));
    for (int value = 1; value <= 3; value++) {
        auto *element = static_cast<Element *>(rtDListNewNodeAndData(ctx, sizeof(Element)));
        ASSERT_NE(nullptr, element);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(element) % alignof(Element));
        EXPECT_TRUE(std::all_of(element->payload, element->payload + sizeof element->payload,
                                [](uint8_t b) { return b == 0; }));
        element->value = value;
        DListNode *node = rtDListAppendNode(ctx, &decoded, element);
        ASSERT_NE(nullptr, node);
        EXPECT_EQ(reinterpret_cast<uint8_t *>(element), reinterpret_cast<uint8_t *>(node + 1));
        EXPECT_EQ(element, node->data);
    }
    for (const DList *list : {&appended, &decoded}) {
        EXPECT_EQ(3u, list->count);
        EXPECT_THAT(WalkForward(*list), ElementsAre(1, 2, 3));
        EXPECT_THAT(WalkBackward(*list), ElementsAre(3, 2, 1));
        EXPECT_EQ(2, static_cast<Element *>(rtDListFindByIndex(list, 1)->data)->value);
        EXPECT_EQ(nullptr, rtDListFindByIndex(list, 3));
    }
}
