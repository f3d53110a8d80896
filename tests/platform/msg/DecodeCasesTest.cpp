// The enveloped-data decoder on the messages of msg/decode.txt (written by make.py beside it):
// each case feeds its message and asks for parameters and controls in the order its steps
// give, every step with the code CryptoAPI answers.
#include <gostcsp.h>
#include <wincrypt.h>

#include "common/FileTest.h"
#include "common/TraceFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace {

using Bytes = std::vector<BYTE>;

BOOL WINAPI Collect(const void *pvArg, BYTE *pbData, DWORD cbData, BOOL)
{
    auto *out = static_cast<Bytes *>(const_cast<void *>(pvArg));
    out->insert(out->end(), pbData, pbData + cbData);
    return TRUE;
}

struct Decoding {
    const kvtest::FileCase &c;
    Bytes input, streamed;
    size_t at = 0;
    HCRYPTMSG hMsg = nullptr;
    HCRYPTPROV hProv = 0;

    // The first failing update's code, 0 when none fails.
    DWORD Update(const std::string &count, BOOL fFinal)
    {
        const size_t end = count == "*" ? input.size() : at + std::stoul(count);
        const size_t chunk = static_cast<size_t>(c.Number("Chunk", "0"));
        do {
            const size_t cb = std::min(chunk ? chunk : end - at, end - at);
            const BOOL last = at + cb == end && fFinal;
            if (!CryptMsgUpdate(hMsg, input.data() + at, static_cast<DWORD>(cb), last))
                return GetLastError();
            at += cb;
        } while (at < end);
        return 0;
    }

    // The value of a parameter: the size query, a buffer one octet short, then the value.
    DWORD Get(DWORD dwParam, DWORD dwIndex, Bytes *pValue)
    {
        DWORD cb = 0;
        if (!CryptMsgGetParam(hMsg, dwParam, dwIndex, nullptr, &cb)) return GetLastError();
        pValue->resize(cb);
        DWORD cbShort = cb - 1;
        EXPECT_TRUE(!cb || (!CryptMsgGetParam(hMsg, dwParam, dwIndex, pValue->data(), &cbShort) &&
                            GetLastError() == ERROR_MORE_DATA && cbShort == cb));
        return CryptMsgGetParam(hMsg, dwParam, dwIndex, pValue->data(), &cb) ? 0 : GetLastError();
    }

    // The para points at recipient info `recipient` (recipient 0's when there is none such),
    // or at none for a negative index.
    DWORD Control(DWORD dwType, long recipient, DWORD dwKey)
    {
        Bytes info(sizeof(CMSG_CMS_RECIPIENT_INFO));
        if (recipient >= 0 && Get(CMSG_CMS_RECIPIENT_INFO_PARAM, recipient, &info))
            Get(CMSG_CMS_RECIPIENT_INFO_PARAM, 0, &info);
        const auto &r = *reinterpret_cast<const CMSG_CMS_RECIPIENT_INFO *>(info.data());
        const auto index = static_cast<DWORD>(recipient);
        CMSG_CTRL_KEY_TRANS_DECRYPT_PARA trans{
            sizeof trans, {hProv}, AT_KEYEXCHANGE, r.pKeyTrans, index};
        CMSG_CTRL_KEY_AGREE_DECRYPT_PARA agree{
            sizeof agree, {hProv}, AT_KEYEXCHANGE, r.pKeyAgree, index, dwKey, {}};
        void *pvPara = dwType == CMSG_CTRL_KEY_AGREE_DECRYPT ? static_cast<void *>(&agree) : &trans;
        return CryptMsgControl(hMsg, 0, dwType, pvPara) ? 0 : GetLastError();
    }

    void Step(const std::string &text)
    {
        SCOPED_TRACE(text);
        std::istringstream in(text);
        std::string verb, first, error, extra;
        long second = 0;
        in >> verb >> first >> second >> error >> extra;
        Bytes value;
        const DWORD got = verb == "update" ? Update(first, second)
                          : verb == "get"  ? Get(std::stoul(first), second, &value)
                                           : Control(std::stoul(first), second,
                                                    extra.empty() ? 0 : std::stoul(extra));
        EXPECT_EQ(std::stoul(error, nullptr, 0), got) << std::hex;
        if (verb == "get" && !extra.empty()) { // a data file's name, or the value's octets in hex
            EXPECT_EQ(extra.find('/') != std::string::npos ? kvtest::ReadDataFile(extra)
                                                           : kvtest::FromHex(extra),
                      value);
        }
    }
};

TEST(DecodeCases, EachStepAnswersAsCryptoApi)
{
    // The library's key-management functions of this build tree.
    setenv("KV_OIDFUNC_REGISTRY", KV_TEST_REGISTRY, 1);
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("msg/decode.txt")) {
        SCOPED_TRACE(c.where);
        Decoding d{c, c.Has("File") ? kvtest::ReadDataFile(c.Get("File")) : c.Hex("Input"), {}};
        ASSERT_TRUE(!c.Has("Key") ||
                    CryptAcquireContextA(&d.hProv, kvtest::DataPath(c.Get("Key")).c_str(), nullptr,
                                         KV_PROV_GOST, 0));
        CMSG_STREAM_INFO stream = {CMSG_INDEFINITE_LENGTH, Collect, &d.streamed};
        const auto number = [&](const char *key, const char *fallback) {
            return static_cast<DWORD>(c.Number(key, fallback));
        };
        d.hMsg = CryptMsgOpenToDecode(number("Encoding", "0x10001"), 0, number("Type", "0"), 0,
                                      nullptr, c.Has("Stream") ? &stream : nullptr);
        EXPECT_EQ(number("OpenError", "0"), d.hMsg ? 0 : GetLastError());
        std::istringstream steps(c.Get("Steps"));
        for (std::string step; std::getline(steps, step, ';');)
            d.Step(step);
        CryptMsgClose(d.hMsg);
        if (d.hProv) CryptReleaseContext(d.hProv, 0);
        EXPECT_EQ(c.Has("Stream") ? kvtest::ReadDataFile(c.Get("Stream")) : Bytes{}, d.streamed);
    }
}

} // namespace
