#include "common/TraceFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace kvtest {
namespace {

std::string CurrentTraceFile()
{
    const char *file = std::getenv("KV_TRACE_FILE");
    return file ? file : "";
}

// Points KV_TRACE_FILE at a fresh file named after the test that is starting.
class TraceFileListener : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &info) override
    {
        const char *dir = std::getenv("KV_TEST_TRACE_DIR");
        std::string name = std::string(info.test_suite_name()) + "." + info.name() + ".log";
        for (char &c : name)
            if (c == '/') c = '_'; // parameterised tests carry slashes in their names
        const std::string path = std::string(dir ? dir : KV_TEST_TRACE_DIR_DEFAULT) + "/" + name;
        // No test sees the registrations of an installed library unless it sets its own.
        setenv("KV_OIDFUNC_REGISTRY", KV_TEST_NO_REGISTRY, 0);
        setenv("KV_TRACE_FILE", path.c_str(), 1);
        std::remove(path.c_str());
    }
};

const bool kRegistered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new TraceFileListener);
    return true;
}();

} // namespace

std::vector<std::string> TraceLines()
{
    std::vector<std::string> lines;
    std::ifstream in(CurrentTraceFile());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void ClearTrace()
{
    std::remove(CurrentTraceFile().c_str());
}

std::string DataPath(const std::string &name)
{
    return std::string(KV_TEST_DATA_DIR) + "/" + name;
}

std::vector<unsigned char> ReadDataFile(const std::string &name)
{
    std::ifstream in(DataPath(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace kvtest
