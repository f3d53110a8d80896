// Test vectors kept in data files: `Key = value` lines, one case per block, blocks separated
// by blank lines, `#` starts a comment line. A case names itself by its `Name` key (or its
// first line) and its place in the file, for SCOPED_TRACE.
#pragma once

#include <map>
#include <span>
#include <string>
#include <vector>

namespace kvtest {

struct FileCase {
    std::string where; // "file:line Name"
    std::map<std::string, std::string> values;

    bool Has(const std::string &key) const { return values.count(key) != 0; }
    // The value of `key`; a missing key fails the test and gives "".
    const std::string &Get(const std::string &key) const;
    std::string Get(const std::string &key, const std::string &fallback) const;
    // The value as hex octets (spaces ignored); a missing key gives none.
    std::vector<unsigned char> Hex(const std::string &key) const;
    // Decimal, or hex after 0x; the fallback stands for a missing key.
    long long Number(const std::string &key) const;
    long long Number(const std::string &key, const std::string &fallback) const;
};

// The cases of a file under tests/data; an unreadable file fails the test.
std::vector<FileCase> ReadFileCases(const std::string &name);

// The parts of `text` between the separators (the text itself when there is none).
std::vector<std::string> Split(const std::string &text, const std::string &separator);

std::vector<unsigned char> FromHex(const std::string &hex);
std::string ToHex(const unsigned char *data, size_t size);
inline std::string ToHex(std::span<const unsigned char> bytes)
{
    return ToHex(bytes.data(), bytes.size());
}

} // namespace kvtest
