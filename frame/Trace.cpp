#include "frame/Trace.h"

TSupportDbContext *db_ctx = nullptr;

// Every level the library knows, plus 0x40.
static constexpr uint32_t kAllTraceLevels = 0x7F;

DbTraceInitializer::DbTraceInitializer(const char *moduleName, TSupportDbContext *&context)
    : managed_(nullptr)
{
    support_print_done(context);
    managed_ = &context;
    context = nullptr;
    context = support_print_init(nullptr, moduleName, nullptr, kAllTraceLevels);
}

// Unload only forgets the context; the support library may already be gone by then.
DbTraceInitializer::~DbTraceInitializer()
{
    if (managed_) *managed_ = nullptr;
}

bool DbLevelOn(uint32_t level)
{
    return db_ctx && (db_ctx->level_mask & level) && support_print_is(db_ctx, level);
}

static DbTraceInitializer log_initer("kvext", db_ctx);
