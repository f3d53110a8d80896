// The codes a caller sees: bad and stale handles, identifiers, parameters, flags, blob types
// (a table in tests/data/csp/refusals.txt) and short buffers. A successful call leaves the
// last error alone.
#include "CspTestSupport.h"

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <sstream>

using namespace csptest;

namespace {

// The handles and blobs of tests/data/csp/refusals.txt, and its calls.
class CspRefusals : public testing::Test {
  protected:
    void SetUp() override
    {
        AcquireVerify(&prov_);
        AcquireContainer("gost2012_256-A-1", &container_);
        HCRYPTPROV released = 0;
        HCRYPTKEY destroyed = 0;
        ASSERT_TRUE(
            CryptAcquireContextA(&released, nullptr, nullptr, KV_PROV_GOST, CRYPT_VERIFYCONTEXT));
        ASSERT_TRUE(CryptReleaseContext(released, 0));
        ASSERT_TRUE(CryptGenKey(prov_.h, ALG_GOST_28147, 0, &destroyed));
        ASSERT_TRUE(CryptDestroyKey(destroyed));
        ASSERT_TRUE(CryptGenKey(prov_.h, ALG_GOST_28147, 0, &session_.h));
        ASSERT_TRUE(CryptGenKey(container_.h, ALG_GOST_28147, CRYPT_EXPORTABLE, &exportable_.h));
        ASSERT_TRUE(CryptGetUserKey(container_.h, AT_KEYEXCHANGE, &user_.h));
        blobs_["own"] = ExportBlob(user_.h, 0, PUBLICKEYBLOBEX);
        blobs_["blob2001"] = PublicKeyBlobOf("gost2001-A-2");
        blobs_["zeros"] = Bytes(60);
        ASSERT_TRUE(ImportBlob(container_.h, blobs_["own"], user_.h, &agreement_.h));
        ASSERT_TRUE(ImportBlob(container_.h, blobs_["own"], user_.h, &simpleAgreement_.h));
        const ALG_ID simpleWrap = ALG_GOST_KEY_WRAP_SIMPLE;
        ASSERT_TRUE(SetParam(simpleAgreement_.h, KP_ALGID, &simpleWrap));
        ASSERT_TRUE(ImportBlob(prov_.h, blobs_["own"], 0, &publicKey_.h));
        blobs_["simple"] = ExportBlob(exportable_.h, agreement_.h, SIMPLEBLOB);
        blobs_["unknownParamSet"] =
            Cat({Bytes(blobs_["simple"].begin(), blobs_["simple"].begin() + 60),
                 BlobParameters("1.2.643.2.2.31.7")});
        KeyHandle imported; // unchanged, the SIMPLEBLOB imports
        ASSERT_TRUE(ImportBlob(container_.h, blobs_["simple"], agreement_.h, &imported.h));
        ASSERT_TRUE(CryptGenKey(prov_.h, ALG_GOST_DH_2012_256_EPHEM, CRYPT_PREGEN, &pending_.h));
        handles_ = {{"prov", prov_.h},
                    {"container", container_.h},
                    {"released", released},
                    {"destroyed", destroyed},
                    {"session", session_.h},
                    {"exportable", exportable_.h},
                    {"user", user_.h},
                    {"agreement", agreement_.h},
                    {"publicKey", publicKey_.h},
                    {"pending", pending_.h},
                    {"simpleAgreement", simpleAgreement_.h}};
    }

    ULONG_PTR Value(const std::string &token) const
    {
        return handles_.count(token) ? handles_.at(token) : std::stoul(token, nullptr, 0);
    }

    // A blob by name, with the edits of the data file's header.
    Bytes Blob(const std::string &token)
    {
        Bytes blob = blobs_[token.substr(0, token.find('['))];
        if (token.find('[') == std::string::npos) return blob;
        if (token.find("[:") != std::string::npos) {
            const long keep = std::stol(token.substr(token.find("[:") + 2));
            blob.resize(static_cast<size_t>(keep < 0 ? keep + long(blob.size()) : keep));
            return blob;
        }
        const long at = std::stol(token.substr(token.find('[') + 1));
        const size_t op = token.find(']') + 1;
        const Bytes octets = FromHex(token.substr(op + 1));
        for (size_t i = 0; i < octets.size(); ++i) {
            BYTE &target = blob.at(static_cast<size_t>(at < 0 ? at + long(blob.size()) : at) + i);
            target = token[op] == '^' ? target ^ octets[i] : octets[i];
        }
        return blob;
    }

    BOOL Call(const std::vector<std::string> &a, HCRYPTKEY *out)
    {
        const std::string &f = a.at(0);
        const auto v = [&](size_t i) { return Value(a.at(i)); };
        BYTE buffer[256] = {};
        DWORD cb = sizeof buffer;
        if (f == "CryptReleaseContext") return CryptReleaseContext(v(1), 0);
        if (f == "CryptDestroyKey") return CryptDestroyKey(v(1));
        if (f == "CryptDecrypt") return CryptDecrypt(v(1), 0, TRUE, 0, buffer, &cb);
        if (f == "CryptGetUserKey") return CryptGetUserKey(v(1), v(2), out);
        if (f == "CryptGenKey") return CryptGenKey(v(1), v(2), v(3), out);
        if (f == "CryptEncrypt") return CryptEncrypt(v(1), v(2), TRUE, v(3), buffer, &cb, cb);
        if (f == "CryptGetKeyParam") return CryptGetKeyParam(v(1), v(2), buffer, &cb, v(3));
        if (f == "CryptExportKey") return CryptExportKey(v(1), v(2), v(3), v(4), nullptr, &cb);
        if (f == "CryptAcquireContextA")
            return CryptAcquireContextA(out, nullptr, a[1] == "-" ? nullptr : a[1].c_str(), v(2),
                                        v(3));
        if (f == "CryptImportKey") {
            const Bytes blob = Blob(a.at(2));
            return CryptImportKey(v(1), blob.data(), static_cast<DWORD>(blob.size()), v(3), v(4),
                                  out);
        }
        EXPECT_EQ("CryptSetKeyParam", f);
        const std::string &given = a.at(3); // an OID text, 256 zero octets, none or a DWORD
        const bool text = given.find('.') != std::string::npos;
        const DWORD value = text || given == "buffer" || given == "-" ? 0 : DWORD(v(3));
        const void *data = text                ? given.c_str()
                           : given == "buffer" ? static_cast<const void *>(buffer)
                                               : &value;
        return CryptSetKeyParam(v(1), v(2),
                                given == "-" ? nullptr : static_cast<const BYTE *>(data), v(4));
    }

    ProvHandle prov_, container_;
    KeyHandle session_, exportable_, user_, agreement_, simpleAgreement_, publicKey_, pending_;
    std::map<std::string, ULONG_PTR> handles_;
    std::map<std::string, Bytes> blobs_;
};

} // namespace

// Bad, stale and made-up handles, handles of the wrong kind, and identifiers, parameters, flags
// and blobs the provider does not know: each call fails with its code and makes nothing.
TEST_F(CspRefusals, CallsFailWithTheirCodes)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("csp/refusals.txt")) {
        SCOPED_TRACE(c.where);
        std::istringstream words(c.Get("Call"));
        const std::vector<std::string> call{std::istream_iterator<std::string>(words), {}};
        HCRYPTKEY out = 0;
        SetLastError(0xDEADBEEF);
        EXPECT_FALSE(Call(call, &out));
        EXPECT_EQ(Value(c.Get("Error")), GetLastError()) << std::hex << GetLastError();
        EXPECT_EQ(HCRYPTKEY{0}, out);
    }
}

// Every variable-length result answers a size query, refuses a buffer one byte short with
// ERROR_MORE_DATA and the size, leaves that buffer alone, and fills an exact one.
TEST(CspErrors, ShortBuffers)
{
    ProvHandle prov;
    KeyHandle session, user, agreement;
    OpenAgreement("gost2012_512-A-1", PublicKeyBlobOf("gost2012_512-A-2"), &prov, &user,
                  &agreement);
    ASSERT_TRUE(CryptGenKey(prov.h, ALG_GOST_28147, CRYPT_EXPORTABLE, &session.h));
    static const struct {
        const char *name;
        bool isBlob; // an export, else a key parameter
        DWORD param;
        size_t size;
    } kCases[] = {
        {"KP_IV", false, KP_IV, 8},
        {"KP_ALGID", false, KP_ALGID, 4},
        {"KP_GOST_CIPHER_PARAMSET", false, KP_GOST_CIPHER_PARAMSET,
         sizeof szOID_Gost28147_89_Kelvarine_A_ParamSet},
        {"PUBLICKEYBLOBEX", true, PUBLICKEYBLOBEX, 16 + 23 + 128},
        {"SIMPLEBLOB", true, SIMPLEBLOB, 60 + 11},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.name);
        const bool isBlob = c.isBlob;
        const HCRYPTKEY hKey = isBlob && c.param == PUBLICKEYBLOBEX ? user.h : session.h;
        const HCRYPTKEY hExpKey = isBlob && c.param == SIMPLEBLOB ? agreement.h : 0;
        auto call = [&](BYTE *pb, DWORD *pcb) {
            return isBlob ? CryptExportKey(hKey, hExpKey, c.param, 0, pb, pcb)
                          : CryptGetKeyParam(hKey, c.param, pb, pcb, 0);
        };
        DWORD cb = 0;
        SetLastError(0xDEADBEEF);
        ASSERT_TRUE(call(nullptr, &cb));
        EXPECT_EQ(c.size, cb);
        EXPECT_EQ(0xDEADBEEFu, GetLastError());
        Bytes buffer(c.size + 4, 0xA5);
        cb = static_cast<DWORD>(c.size - 1);
        EXPECT_FALSE(call(buffer.data(), &cb));
        EXPECT_EQ(DWORD{ERROR_MORE_DATA}, GetLastError());
        EXPECT_EQ(c.size, cb);
        EXPECT_EQ(Bytes(c.size + 4, 0xA5), buffer);
        cb = static_cast<DWORD>(c.size);
        EXPECT_TRUE(call(buffer.data(), &cb));
        EXPECT_EQ(c.size, cb);
        EXPECT_EQ(Bytes(4, 0xA5), Bytes(buffer.end() - 4, buffer.end())); // nothing past the result
    }
}
