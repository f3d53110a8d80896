// The context heap: an arena of chained blocks. Allocation bumps a cursor in the current
// block; nothing is freed before the whole heap goes with its context.
//
// Each thread keeps the arena of its last released context with its emptied blocks of the
// growing sizes (up to kKeptBytes), and the next context of that thread carves from them
// before it touches malloc: a thread whose calls have the same shape allocates nothing here
// after its first call. A context opened while another one of the same thread is alive gets
// an arena of its own.
#include "Internal.h"

#include <cstring>
#include <new>

namespace {

constexpr size_t kAlign = 16;
constexpr size_t kFirstBlockSize = 4096;
constexpr size_t kLargestBlockSize = 64 * 1024;
// Requests above this get a block of their own, so they do not waste the current block.
constexpr size_t kOwnBlockThreshold = 1024;
// Emptied blocks an arena keeps for the next context: the first three sizes, 4 + 8 + 16 KiB.
constexpr size_t kKeptBytes = 28 * 1024;

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
    Block *blocks;  // every block in use, newest first except for own-block requests
    Block *current; // where small requests are carved from
    size_t nextBlockSize;
    Block *kept; // emptied blocks of earlier contexts, the smallest first
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
    Block *block = arena->kept;
    if (block) {
        arena->kept = block->next;
        arena->nextBlockSize = block->capacity;
    } else if (!(block = NewBlock(arena->nextBlockSize))) {
        return false;
    }
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
    DeleteBlocks(arena->kept);
    delete arena;
}

// Empties the arena for the next context. Blocks of the growing sizes are kept, smallest
// first, while they fit in kKeptBytes; own-block requests and the rest go.
void EmptyArena(Arena *arena)
{
    Block *first = arena->blocks;
    if (first && !first->next && first->capacity == kFirstBlockSize) {
        first->used = 0; // the common call: one block of the first size served it all
        *arena = Arena{first, first, kFirstBlockSize * 2, arena->kept};
        return;
    }
    Block *kept = arena->kept;
    size_t keptBytes = 0;
    for (Block *block = kept; block; block = block->next)
        keptBytes += block->capacity;
    for (Block *block = arena->blocks; block;) { // newest (largest) first
        Block *next = block->next;
        const bool growing = block->capacity >= kFirstBlockSize &&
                             block->capacity <= kLargestBlockSize &&
                             (block->capacity & (block->capacity - 1)) == 0;
        if (growing && keptBytes + block->capacity <= kKeptBytes) {
            block->used = 0;
            block->next = kept;
            kept = block;
            keptBytes += block->capacity;
        } else {
            DeleteBlock(block);
        }
        block = next;
    }
    *arena = Arena{nullptr, nullptr, kFirstBlockSize, kept};
    if (kept) StartNewBlock(arena); // the smallest serves the next context's first requests
}

using SpareArena = asn1rt::ThreadSpare<Arena, DestroyArena>;

} // namespace

namespace asn1rt {

void *NewHeap()
{
    if (Arena *spare = SpareArena::Take()) return spare;
    return new (std::nothrow) Arena{nullptr, nullptr, kFirstBlockSize, nullptr};
}

void DeleteHeap(void *heap)
{
    auto *arena = static_cast<Arena *>(heap);
    if (!arena) return;
    EmptyArena(arena);
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
