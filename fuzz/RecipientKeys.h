// The recipients the key-import fuzz targets open envelopes for: provider containers holding
// the OpenSSL-made key pairs of tests/data/cms, acquired once for the whole run.
#pragma once

#include <wincrypt.h>

#include <array>
#include <cstdint>
#include <string>

namespace kvfuzz {

constexpr DWORD kProvGost = 75;
constexpr char kGost28147Oid[] = "1.2.643.2.2.21";

// The container the selector octet picks (three recipients: 2001, 2012-256, 2012-512).
inline HCRYPTPROV Recipient(uint8_t selector)
{
    static const std::array<HCRYPTPROV, 3> providers = [] {
        std::array<HCRYPTPROV, 3> hProvs{};
        const char *names[] = {"gost2001_A", "gost2012_256_A", "gost2012_512_A"};
        for (size_t i = 0; i < hProvs.size(); ++i) {
            const std::string path =
                std::string(KV_TEST_DATA_DIR) + "/cms/" + names[i] + ".key.pem";
            if (!CryptAcquireContextA(&hProvs[i], path.c_str(), nullptr, kProvGost, 0))
                __builtin_trap(); // no recipient: the run would prove nothing
        }
        return hProvs;
    }();
    return providers[selector % providers.size()];
}

} // namespace kvfuzz
