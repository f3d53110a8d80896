// Error-level diagnostics through the support library's trace context.
#pragma once

#include <support.h>
#include <wintypes.h>

#include <cstdint>

// Trace levels: one bit each of the context's level mask.
enum : uint32_t {
    DB_ERROR = 0x01,
    DB_TRACE = 0x02,
    DB_CALL = 0x04,
    DB_LOG = 0x08,
    DB_UNUSUAL = 0x10,
    DB_WARN = 0x20,
};

// Created when the library is loaded, cleared when it is unloaded; read-only in between.
extern TSupportDbContext *db_ctx;

// Creates the trace context at load time and forgets it at unload.
class DbTraceInitializer {
  public:
    DbTraceInitializer(const char *moduleName, TSupportDbContext *&context);
    ~DbTraceInitializer();
    DbTraceInitializer(const DbTraceInitializer &) = delete;
    DbTraceInitializer &operator=(const DbTraceInitializer &) = delete;

  private:
    TSupportDbContext **managed_;
};

// True when `level` is on: a context exists, its mask word has the bit, and the support
// library agrees. A false answer skips the line before anything is formatted.
bool DbLevelOn(uint32_t level);

// The tail of every failure path: the code for the caller, then FALSE.
inline BOOL FailWith(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
}

// Where a failure was seen: the function a trace line names and a line inside it. A shared
// helper that reports for its caller takes the caller's site (KV_HERE), never its own line.
struct TraceSite {
    const char *function;
    int line;
};
#define KV_HERE (TraceSite{__func__, __LINE__})

// One error line under the name of the function that saw the failure.
#define KV_TRACE_ERROR(fmt, ...) KV_TRACE_ERROR_AT(KV_HERE, fmt __VA_OPT__(, ) __VA_ARGS__)
#define KV_TRACE_ERROR_AT(site, fmt, ...)                                                          \
    (DbLevelOn(DB_ERROR)                                                                           \
         ? static_cast<void>(support_elprint_print_(db_ctx, fmt, "", (site).line,                  \
                                                    (site).function __VA_OPT__(, ) __VA_ARGS__))   \
         : static_cast<void>(0))

// The failure path of every check the library makes itself: one trace line, the code, FALSE.
#define KV_FAIL(dwError, fmt, ...)                                                                 \
    (KV_TRACE_ERROR(fmt __VA_OPT__(, ) __VA_ARGS__), FailWith(dwError))
#define KV_FAIL_AT(site, dwError, fmt, ...)                                                        \
    (KV_TRACE_ERROR_AT(site, fmt __VA_OPT__(, ) __VA_ARGS__), FailWith(dwError))

// FALSE with the last error left as it stands, on purpose: the code a provider, CryptoAPI or
// an allocator set is the caller's answer, or the failure has no code of its own.
inline BOOL FailKeepingLastError()
{
    return FALSE;
}
