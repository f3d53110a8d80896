// Trace lines written by the support library during the current test.
//
// Each test gets a trace file of its own (KV_TRACE_FILE is pointed at it when the test
// starts), so tests running in parallel never read each other's lines.
#pragma once

#include <string>
#include <vector>

namespace kvtest {

// Lines written since the test started (or since the last ClearTrace()).
std::vector<std::string> TraceLines();
void ClearTrace();

// Path of a file under tests/data.
std::string DataPath(const std::string &name);
std::vector<unsigned char> ReadDataFile(const std::string &name);

} // namespace kvtest
