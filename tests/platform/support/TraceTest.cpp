#include "support.h"

#include "common/FileTest.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing::ElementsAre;

constexpr uint32_t kAllLevels = 0x7F;

// Sets (or, with nullopt, removes) an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char *name, std::optional<std::string> value) : name_(name)
    {
        if (const char *old = std::getenv(name)) old_ = old;
        Apply(value);
    }
    ~ScopedEnv() { Apply(old_); }

  private:
    void Apply(const std::optional<std::string> &value)
    {
        if (value)
            setenv(name_, value->c_str(), 1);
        else
            unsetenv(name_);
    }
    const char *name_;
    std::optional<std::string> old_;
};

using Context = std::unique_ptr<TSupportDbContext, decltype(&support_print_done)>;

Context MakeContext(const char *module, uint32_t allLevels = kAllLevels)
{
    return Context(support_print_init(nullptr, module, nullptr, allLevels), support_print_done);
}

// The masks of tests/data/support/trace_mask.txt.
TEST(TraceMask, FromEnvironment)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("support/trace_mask.txt")) {
        SCOPED_TRACE(c.where);
        ScopedEnv mask("KV_TRACE_MASK",
                       c.Has("Text") ? std::optional(c.Get("Text")) : std::nullopt);
        const Context ctx =
            MakeContext("kvext", static_cast<uint32_t>(c.Number("AllLevels", "0x7F")));
        ASSERT_NE(nullptr, ctx);
        EXPECT_EQ(c.Number("Mask"), ctx->level_mask);
    }
}

TEST(TraceLevels, EveryRequestedBitMustBeOn)
{
    ScopedEnv mask("KV_TRACE_MASK", "0x21");
    const Context ctx = MakeContext("kvext");
    EXPECT_TRUE(support_print_is(ctx.get(), 0x01));
    EXPECT_TRUE(support_print_is(ctx.get(), 0x20));
    EXPECT_TRUE(support_print_is(ctx.get(), 0x21));
    EXPECT_FALSE(support_print_is(ctx.get(), 0x02));
    EXPECT_FALSE(support_print_is(ctx.get(), 0x03)); // one of two bits is not enough
    EXPECT_FALSE(support_print_is(ctx.get(), 0));
    EXPECT_FALSE(support_print_is(nullptr, 0x01));
}

// "<module>: <function>(<line>): <prefix><message>", appended after what the file held.
TEST(TraceLine, FormatAndAppend)
{
    ScopedEnv mask("KV_TRACE_MASK", "0x7F");
    const Context ctx = MakeContext("kvext");
    {
        FILE *file = std::fopen(std::getenv("KV_TRACE_FILE"), "w");
        ASSERT_NE(nullptr, file);
        std::fputs("earlier line\n", file);
        std::fclose(file);
    }
    const std::string expected =
        "kvext: ObjectDecodeEx(123): call to xd_setp() failed, result = -3";
    EXPECT_EQ(static_cast<int>(expected.size() + 1),
              support_elprint_print_(ctx.get(), "call to %s() failed, result = %d", "", 123,
                                     "ObjectDecodeEx", "xd_setp", -3));
    support_elprint_print_(ctx.get(), "%s", "pre-", 7, "Fill", "100% done");
    EXPECT_THAT(kvtest::TraceLines(),
                ElementsAre("earlier line", expected, "kvext: Fill(7): pre-100% done"));
}

TEST(TraceLine, NullContextWritesNothing)
{
    EXPECT_EQ(-1, support_elprint_print_(nullptr, "message", "", 1, "F"));
    EXPECT_TRUE(kvtest::TraceLines().empty());
    support_print_done(nullptr); // accepted
}

TEST(TraceLine, ConcurrentLinesStayWhole)
{
    ScopedEnv mask("KV_TRACE_MASK", "0x7F");
    const Context ctx = MakeContext("kvext");
    constexpr int kThreads = 4, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&ctx, t] {
            for (int i = 0; i < kLines; ++i)
                support_elprint_print_(ctx.get(), "thread %d line %d %s", "", t, "Worker", t, i,
                                       std::string(100, static_cast<char>('a' + t)).c_str());
        });
    for (std::thread &thread : threads)
        thread.join();

    const std::vector<std::string> lines = kvtest::TraceLines();
    ASSERT_EQ(static_cast<size_t>(kThreads * kLines), lines.size());
    std::vector<int> nextLine(kThreads, 0);
    for (const std::string &line : lines) {
        int t = -1, i = -1;
        ASSERT_EQ(2, std::sscanf(line.c_str(), "kvext: Worker(%*d): thread %d line %d", &t, &i))
            << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        const std::string expected = "kvext: Worker(" + std::to_string(t) + "): thread " +
                                     std::to_string(t) + " line " + std::to_string(i) + " " +
                                     std::string(100, static_cast<char>('a' + t));
        EXPECT_EQ(expected, line);
        EXPECT_EQ(nextLine[static_cast<size_t>(t)]++, i); // each thread's lines in its order
    }
}

} // namespace
