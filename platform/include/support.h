/*
 * The platform's support library: diagnostic trace output and bounded conversion between
 * 8-bit text and wide characters.
 *
 * Trace: support_print_init() creates a context whose first 32-bit word is the mask of
 * enabled levels, taken from the environment variable KV_TRACE_MASK (a number in any C
 * base; unset means 0, nothing printed). Each line is appended to the file named by
 * KV_TRACE_FILE, or written to stderr when it is unset. A line reads
 *     <module>: <function>(<line>): <formatted message>
 * All functions are safe to call from any number of threads at once.
 */
#ifndef KV_SUPPORT_H
#define KV_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TSupportDbContext_ {
    uint32_t level_mask; /* first word: the enabled levels */
    /* the rest is the support library's own */
} TSupportDbContext;

/* Creates a trace context for module `name`. `reserved1`, `reserved2` must be null;
 * `all_levels` is the mask of levels the module knows (KV_TRACE_MASK is clipped to it).
 * Returns null when no context can be made; tracing is then off. */
TSupportDbContext *support_print_init(const char *reserved1, const char *name,
                                      const char *reserved2, uint32_t all_levels);
/* Releases a context made by support_print_init; null is accepted. */
void support_print_done(TSupportDbContext *ctx);
/* Non-zero when `level` is enabled in `ctx`. */
int support_print_is(TSupportDbContext *ctx, uint32_t level);
/* Writes one line: `fmt` with the variadic arguments, for function `func` at source `line`.
 * `prefix` is written before the message (callers pass ""). Returns the characters written,
 * or -1. */
int support_elprint_print_(TSupportDbContext *ctx, const char *fmt, const char *prefix, int line,
                           const char *func, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 6)))
#endif
    ;

/* Bounded mbsrtowcs/wcsrtombs over UTF-8 that never write past `len` elements of `dst`
 * (dst null: count only). Return the converted count without the terminator, or
 * (size_t)-1 on an invalid sequence; *src is advanced as by the standard functions. */
size_t safe_mbsrtowcs(wchar_t *dst, const char **src, size_t len, mbstate_t *ps);
size_t safe_wcsrtombs(char *dst, const wchar_t **src, size_t len, mbstate_t *ps);

#ifdef __cplusplus
}
#endif

#endif
