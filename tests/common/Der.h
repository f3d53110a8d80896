// DER built by hand for the tests (X.690, 8.1): one element of any tag and contents, an
// OBJECT IDENTIFIER from its dotted text, and parts laid end to end.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace kvtest {

inline std::vector<unsigned char> Der(unsigned char tag, const std::vector<unsigned char> &contents)
{
    std::vector<unsigned char> out = {tag};
    const size_t n = contents.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        std::vector<unsigned char> length;
        for (size_t rest = n; rest; rest >>= 8)
            length.insert(length.begin(), static_cast<unsigned char>(rest));
        out.push_back(static_cast<unsigned char>(0x80 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

inline std::vector<unsigned char> Cat(std::initializer_list<std::vector<unsigned char>> parts)
{
    std::vector<unsigned char> out;
    for (const auto &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The DER OBJECT IDENTIFIER of a dotted text.
inline std::vector<unsigned char> DerOid(const std::string &dotted)
{
    std::vector<uint32_t> arcs;
    std::istringstream in(dotted);
    for (std::string arc; std::getline(in, arc, '.');)
        arcs.push_back(static_cast<uint32_t>(std::stoul(arc)));
    std::vector<unsigned char> contents = {
        static_cast<unsigned char>(40 * arcs.at(0) + arcs.at(1))};
    for (size_t i = 2; i < arcs.size(); ++i) {
        std::vector<unsigned char> base128 = {static_cast<unsigned char>(arcs[i] & 0x7F)};
        for (uint32_t rest = arcs[i] >> 7; rest; rest >>= 7)
            base128.insert(base128.begin(), static_cast<unsigned char>(0x80 | (rest & 0x7F)));
        contents.insert(contents.end(), base128.begin(), base128.end());
    }
    return Der(0x06, contents);
}

} // namespace kvtest
