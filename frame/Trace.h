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

// One error line under the name of the function that saw the failure.
#define KV_TRACE_ERROR(fmt, ...) KV_TRACE_ERROR_IN(__func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define KV_TRACE_ERROR_IN(func, fmt, ...)                                                          \
    do {                                                                                           \
        if (DbLevelOn(DB_ERROR))                                                                   \
            support_elprint_print_(db_ctx, fmt, "", __LINE__, func __VA_OPT__(, ) __VA_ARGS__);    \
    } while (0)
