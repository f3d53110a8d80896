// Doubly linked element lists (SEQUENCE OF, SET OF) and the stack list of SET OF element
// descriptors. Nodes come from the context heap.
#include "Internal.h"

#include <cstring>

namespace {

// A node-and-element block keeps the element 16-byte aligned, with the node header right
// in front of it.
constexpr size_t kNodeSlot = (sizeof(DListNode) + 15) & ~size_t{15};

DListNode *NodeOfElement(void *pData)
{
    return static_cast<DListNode *>(
        static_cast<void *>(static_cast<unsigned char *>(pData) - sizeof(DListNode)));
}

void LinkAtTail(DList *pList, DListNode *node)
{
    node->next = nullptr;
    node->prev = pList->tail;
    if (pList->tail)
        pList->tail->next = node;
    else
        pList->head = node;
    pList->tail = node;
    pList->count++;
}

} // namespace

extern "C" void rtDListInit(DList *pList)
{
    if (pList) std::memset(pList, 0, sizeof *pList);
}

extern "C" DListNode *rtDListAppend(Asn1Context *pctxt, DList *pList, void *pData)
{
    if (!pctxt || !pList) return nullptr;
    auto *node = static_cast<DListNode *>(ASN1MALLOC(pctxt, sizeof(DListNode)));
    if (!node) return nullptr;
    node->data = pData;
    LinkAtTail(pList, node);
    return node;
}

extern "C" DListNode *rtDListAppendNode(Asn1Context *, DList *pList, void *pData)
{
    if (!pList || !pData) return nullptr;
    DListNode *node = NodeOfElement(pData);
    node->data = pData;
    LinkAtTail(pList, node);
    return node;
}

extern "C" void *rtDListNewNodeAndData(Asn1Context *pctxt, size_t elemSize)
{
    if (!pctxt || elemSize > SIZE_MAX - kNodeSlot) return nullptr;
    auto *block = static_cast<unsigned char *>(ASN1MALLOCZ(pctxt, kNodeSlot + elemSize));
    if (!block) return nullptr;
    void *element = block + kNodeSlot;
    NodeOfElement(element)->data = element;
    return element;
}

extern "C" DListNode *rtDListFindByIndex(const DList *pList, ASN1UINT index)
{
    if (!pList || index >= pList->count) return nullptr;
    DListNode *node = pList->head;
    for (ASN1UINT i = 0; node && i < index; i++)
        node = node->next;
    return node;
}

extern "C" void rtSListInitEx(Asn1Context *pctxt, SList *pList)
{
    if (!pList) return;
    std::memset(pList, 0, sizeof *pList);
    pList->pctxt = pctxt;
}

extern "C" SListNode *rtSListAppend(SList *pList, void *pData)
{
    if (!pList || !pList->pctxt) return nullptr;
    auto *node = static_cast<SListNode *>(ASN1MALLOC(pList->pctxt, sizeof(SListNode)));
    if (!node) return nullptr;
    node->data = pData;
    node->next = nullptr;
    if (pList->tail)
        pList->tail->next = node;
    else
        pList->head = node;
    pList->tail = node;
    pList->count++;
    return node;
}
