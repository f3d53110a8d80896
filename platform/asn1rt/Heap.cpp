// The context heap: an arena of chained blocks. Allocation bumps a cursor in the current
// block; nothing is freed before the whole heap goes with its context.
//
// Most calls need one context whose values fit in the first block, so each thread keeps the
// arena of its last released context, first block included, and the next context of that
// thread starts from it without touching malloc. A context opened while another one of the
// same thread is alive gets an arena of its own, as before.
#include "Internal.h"

#include <cstring>
#include <new>

namespace {

constexpr size_t kAlign = 16;
constexpr size_t kFirstBlockSize = 4096;
constexpr size_t kLargestBlockSize = 64 * 1024;
// Requests above this get a block of their own, so they do not waste the current block.
constexpr size_t kOwnBlockThreshold = 1024;

constexpr size_t RoundUp(size_t n)
{
    return (n + kAlign - 1) & ~(kAlign - 1);
}

struct Block {
    Block *next;
    size_t capacity; // payload octets
    size_t used;
};
constexpr size_t kBlockHeader = RoundUp(sizeof(Block));

struct Arena {
    Block *blocks;  // every block, newest first except for own-block requests
    Block *current; // where small requests are carved from
    size_t nextBlockSize;
};

unsigned char *Payload(Block *block)
{
    return reinterpret_cast<unsigned char *>(block) + kBlockHeader;
}

Block *NewBlock(size_t capacity)
{
    void *raw = ::operator new (kBlockHeader + capacity, std::align_val_t{kAlign}, std::nothrow);
    if (!raw) return nullptr;
    return new (raw) Block{nullptr, capacity, 0};
}

void DeleteBlock(Block *block)
{
    ::operator delete (block, std::align_val_t{kAlign});
}

// A block used by one request only; linked behind the current block so that the current
// one keeps serving small requests.
void *AllocOwnBlock(Arena *arena, size_t rounded)
{
    Block *block = NewBlock(rounded);
    if (!block) return nullptr;
    block->used = rounded;
    if (arena->current) {
        block->next = arena->current->next;
        arena->current->next = block;
    } else {
        block->next = arena->blocks;
        arena->blocks = block;
    }
    return Payload(block);
}

bool StartNewBlock(Arena *arena)
{
    Block *block = NewBlock(arena->nextBlockSize);
    if (!block) return false;
    block->next = arena->blocks;
    arena->blocks = block;
    arena->current = block;
    if (arena->nextBlockSize < kLargestBlockSize) arena->nextBlockSize *= 2;
    return true;
}

void *Allocate(Arena *arena, size_t nbytes)
{
    if (nbytes > SIZE_MAX / 2) return nullptr;
    const size_t rounded = RoundUp(nbytes ? nbytes : 1); // zero octets still get a unique block
    if (rounded > kOwnBlockThreshold) return AllocOwnBlock(arena, rounded);
    Block *block = arena->current;
    if (!block || block->capacity - block->used < rounded) {
        if (!StartNewBlock(arena)) return nullptr;
        block = arena->current;
    }
    void *result = Payload(block) + block->used;
    block->used += rounded;
    return result;
}

void DeleteBlocks(Block *block)
{
    while (block) {
        Block *next = block->next;
        DeleteBlock(block);
        block = next;
    }
}

void DestroyArena(Arena *arena)
{
    DeleteBlocks(arena->blocks);
    delete arena;
}

// Keeps the first block (the oldest, last in the chain) when it has the first size, emptied,
// and lets every later block go.
void KeepFirstBlockOnly(Arena *arena)
{
    Block *first = nullptr;
    for (Block *block = arena->blocks; block;) {
        Block *next = block->next;
        if (!next && block->capacity == kFirstBlockSize)
            first = block;
        else
            DeleteBlock(block);
        block = next;
    }
    if (first) first->used = 0;
    *arena = Arena{first, first, first ? kFirstBlockSize * 2 : kFirstBlockSize};
}

using SpareArena = asn1rt::ThreadSpare<Arena, DestroyArena>;

} // namespace

namespace asn1rt {

void *NewHeap()
{
    if (Arena *spare = SpareArena::Take()) return spare;
    return new (std::nothrow) Arena{nullptr, nullptr, kFirstBlockSize};
}

void DeleteHeap(void *heap)
{
    auto *arena = static_cast<Arena *>(heap);
    if (!arena) return;
    KeepFirstBlockOnly(arena);
    if (!SpareArena::Park(arena)) DestroyArena(arena);
}

} // namespace asn1rt

extern "C" void *rtMemHeapAlloc(void **ppvMemHeap, size_t nbytes)
{
    if (!ppvMemHeap || !*ppvMemHeap) return nullptr;
    return Allocate(static_cast<Arena *>(*ppvMemHeap), nbytes);
}

extern "C" void *rtMemHeapAllocZ(void **ppvMemHeap, size_t nbytes)
{
    void *block = rtMemHeapAlloc(ppvMemHeap, nbytes);
    if (block) std::memset(block, 0, nbytes);
    return block;
}
