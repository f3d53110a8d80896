// The input of a fuzz target that takes several byte strings: each field is a two-octet
// big-endian length and that many octets; a field cut short takes what is left, missing fields
// are empty. Every field is an exact-size copy, so that a read past a field is a read past an
// allocation.
#pragma once

#include <wincrypt.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kvfuzz {

using Bytes = std::vector<BYTE>;

class Fields {
  public:
    Fields(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    Bytes Next()
    {
        if (size_ < 2) {
            size_ = 0;
            return {};
        }
        size_t cb = static_cast<size_t>(data_[0]) << 8 | data_[1];
        data_ += 2;
        size_ -= 2;
        if (cb > size_) cb = size_;
        Bytes field(data_, data_ + cb);
        data_ += cb;
        size_ -= cb;
        return field;
    }
    // A field as a NUL-terminated text (an OID), cut at its first NUL.
    std::string NextText()
    {
        const Bytes field = Next();
        return std::string(field.begin(), field.end()).c_str();
    }

  private:
    const uint8_t *data_;
    size_t size_;
};

inline CRYPT_DATA_BLOB BlobOf(Bytes &bytes)
{
    return {static_cast<DWORD>(bytes.size()), bytes.empty() ? nullptr : bytes.data()};
}

} // namespace kvfuzz
