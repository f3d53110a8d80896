// Error lines of the CryptoAPI stand-in, through the support library under the module
// name "kvcapi".
#pragma once

#include <support.h>

namespace kvcapi {

// Created on first use; never released, since the support library may be gone at exit.
TSupportDbContext *TraceContext();

constexpr uint32_t kTraceError = 0x01;

} // namespace kvcapi

#define KVCAPI_TRACE_ERROR(fmt, ...)                                                               \
    do {                                                                                           \
        TSupportDbContext *traceCtx = kvcapi::TraceContext();                                      \
        if (traceCtx && support_print_is(traceCtx, kvcapi::kTraceError))                           \
            support_elprint_print_(traceCtx, fmt, "", __LINE__,                                    \
                                   __func__ __VA_OPT__(, ) __VA_ARGS__);                           \
    } while (0)
