// Fault injection into the library's default allocator. Test programs are linked with
// --wrap for it (tests/keys/CMakeLists.txt); it has C++ linkage, so the linker knows it by its
// mangled name, which spells size_t 'm' on 64-bit targets and 'j' on 32-bit ones.
#pragma once

#include <cstddef>
#include <cstdint>

#if SIZE_MAX > UINT32_MAX
#define KV_ALLOC_MANGLED "_Z16KVSUPAllocMemorym"
#else
#define KV_ALLOC_MANGLED "_Z16KVSUPAllocMemoryj"
#endif

// The allocator itself, and the replacement a test program defines.
extern "C" void *RealKVSUPAllocMemory(size_t cb) __asm__("__real_" KV_ALLOC_MANGLED);
extern "C" void *WrapKVSUPAllocMemory(size_t cb) __asm__("__wrap_" KV_ALLOC_MANGLED);
