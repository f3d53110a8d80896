// A heap that can fail, for the test program that includes this header (in its one source
// file): it defines the runtime's heap functions itself. An executable's symbols come before
// those of the shared runtime, so every call the library makes lands here and goes on to the
// runtime's own, except the one a countdown picks to fail.
#pragma once

#include <asn1rt.h>
#include <wincrypt.h>

#include "common/TraceFile.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <set>
#include <string>
#include <vector>

namespace {

int g_allocationsBeforeFailure = -1; // -1: none fails

bool FailThisAllocation()
{
    return g_allocationsBeforeFailure >= 0 && g_allocationsBeforeFailure-- == 0;
}

template <typename Fn> Fn RuntimeFunction(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// Each allocation of a call fails in turn: the call fails cleanly with NTE_NO_MEMORY (or, for
// the runtime's own, CRYPT_E_ASN1_ERROR) and one trace line, until every allocation succeeds.
// Returns the messages seen.
template <typename Call> std::set<std::string> FailEachAllocation(Call call)
{
    std::set<std::string> messages;
    for (int failing = 0;; ++failing) {
        SCOPED_TRACE("allocation " + std::to_string(failing));
        kvtest::ClearTrace();
        g_allocationsBeforeFailure = failing;
        const BOOL ok = call();
        const DWORD error = GetLastError();
        const bool allUsed = g_allocationsBeforeFailure >= 0;
        g_allocationsBeforeFailure = -1;
        if (ok) {
            EXPECT_TRUE(allUsed);
            return messages;
        }
        EXPECT_TRUE(error == NTE_NO_MEMORY || error == CRYPT_E_ASN1_ERROR) << error;
        const std::vector<std::string> lines = kvtest::TraceLines();
        EXPECT_EQ(1u, lines.size());
        for (const std::string &line : lines)
            messages.insert(line.substr(line.find("): ") + 3));
    }
}

} // namespace

extern "C" void *rtMemHeapAlloc(void **ppvMemHeap, size_t nbytes)
{
    static const auto next = RuntimeFunction<void *(*)(void **, size_t)>("rtMemHeapAlloc");
    return FailThisAllocation() ? nullptr : next(ppvMemHeap, nbytes);
}

extern "C" void *rtMemHeapAllocZ(void **ppvMemHeap, size_t nbytes)
{
    static const auto next = RuntimeFunction<void *(*)(void **, size_t)>("rtMemHeapAllocZ");
    return FailThisAllocation() ? nullptr : next(ppvMemHeap, nbytes);
}

extern "C" void *rtDListNewNodeAndData(Asn1Context *pctxt, size_t elemSize)
{
    static const auto next =
        RuntimeFunction<void *(*)(Asn1Context *, size_t)>("rtDListNewNodeAndData");
    return FailThisAllocation() ? nullptr : next(pctxt, elemSize);
}
