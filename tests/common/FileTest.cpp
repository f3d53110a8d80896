#include "common/FileTest.h"

#include "common/TraceFile.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kvtest {
namespace {

std::string Trim(const std::string &s)
{
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

const std::string &FileCase::Get(const std::string &key) const
{
    static const std::string kEmpty;
    const auto it = values.find(key);
    if (it != values.end()) return it->second;
    ADD_FAILURE() << where << ": no " << key;
    return kEmpty;
}

std::string FileCase::Get(const std::string &key, const std::string &fallback) const
{
    const auto it = values.find(key);
    return it == values.end() ? fallback : it->second;
}

std::vector<unsigned char> FileCase::Hex(const std::string &key) const
{
    return Has(key) ? FromHex(Get(key)) : std::vector<unsigned char>{};
}

long long FileCase::Number(const std::string &key) const
{
    return std::stoll(Get(key), nullptr, 0);
}

long long FileCase::Number(const std::string &key, const std::string &fallback) const
{
    return std::stoll(Get(key, fallback), nullptr, 0);
}

std::vector<FileCase> ReadFileCases(const std::string &name)
{
    std::ifstream in(DataPath(name));
    EXPECT_TRUE(in) << name;
    std::vector<FileCase> cases;
    std::string line, title;
    bool open = false;
    for (int number = 1; std::getline(in, line); number++) {
        line = Trim(line);
        if (line.empty()) {
            open = false;
            continue;
        }
        if (line[0] == '#') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            ADD_FAILURE() << name << ":" << number << ": not `Key = value`";
            continue;
        }
        const std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
        if (!open) {
            cases.push_back({name + ":" + std::to_string(number) + " " + value, {}});
            open = true;
        }
        if (key == "Name") cases.back().where = name + ":" + std::to_string(number) + " " + value;
        EXPECT_TRUE(cases.back().values.emplace(key, value).second)
            << name << ":" << number << ": " << key << " twice";
    }
    EXPECT_FALSE(cases.empty()) << name;
    return cases;
}

std::vector<std::string> Split(const std::string &text, const std::string &separator)
{
    std::vector<std::string> parts;
    for (size_t at = 0;;) {
        const size_t next = text.find(separator, at);
        parts.push_back(text.substr(at, next - at));
        if (next == std::string::npos) return parts;
        at = next + separator.size();
    }
}

std::vector<unsigned char> FromHex(const std::string &hex)
{
    std::vector<unsigned char> out;
    int high = -1;
    for (const char c : hex) {
        int nibble;
        if (c >= '0' && c <= '9')
            nibble = c - '0';
        else if (c >= 'a' && c <= 'f')
            nibble = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            nibble = c - 'A' + 10;
        else
            continue; // spaces group the octets for the reader
        if (high < 0) {
            high = nibble;
        } else {
            out.push_back(static_cast<unsigned char>(high << 4 | nibble));
            high = -1;
        }
    }
    return out;
}

std::string ToHex(const unsigned char *data, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; i++) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 0x0F];
    }
    return text;
}

} // namespace kvtest
