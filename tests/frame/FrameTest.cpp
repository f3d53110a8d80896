// The encode/decode frame, driven through a minimal structure codec: a CRYPT_DATA_BLOB
// encoded as an OCTET STRING.
#include "frame/AsnObject.h"
#include "frame/Memory.h"

#include "common/FileTest.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

using testing::AllOf;
using testing::Each;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

// ------------------------------------------------------------------ context accounting

int g_contextsInitialised = 0;
int g_contextsReleased = 0;
int g_initFailure = 0; // non-zero: rtInitContext answers this

} // namespace

// The test is linked with --wrap for these, so every context the frame makes and releases
// passes through here.
extern "C" int __real_rtInitContext(Asn1Context *pctxt, void *pMemHeap);
extern "C" void __real_rtFreeContext(Asn1Context *pctxt);
extern "C" int __wrap_rtInitContext(Asn1Context *pctxt, void *pMemHeap)
{
    if (g_initFailure) return g_initFailure;
    ++g_contextsInitialised;
    return __real_rtInitContext(pctxt, pMemHeap);
}
extern "C" void __wrap_rtFreeContext(Asn1Context *pctxt)
{
    ++g_contextsReleased;
    __real_rtFreeContext(pctxt);
}

namespace {

// ------------------------------------------------------------------ the test codec

struct TestValue {
    ASN1DynOctStr octets;
};

enum class Fault { None, FillAsn1cObject, GetBufferSize, FillBuffer };
Fault g_fault = Fault::None;

int asn1E_TestValue(Asn1Context *ctx, TestValue *value, ASN1TagType tagging)
{
    return xe_octstr(ctx, value->octets.data, value->octets.numocts, tagging);
}

int asn1D_TestValue(Asn1Context *ctx, TestValue *value, ASN1TagType tagging, int length)
{
    return xd_octstr(ctx, &value->octets.data, &value->octets.numocts, tagging, length);
}

BOOL TestBlob_FillAsn1cObject(Asn1Context *, const void *pvStructInfo, void *value)
{
    if (g_fault == Fault::FillAsn1cObject) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const auto *blob = static_cast<const CRYPT_DATA_BLOB *>(pvStructInfo);
    auto *octets = &static_cast<TestValue *>(value)->octets;
    octets->numocts = blob->cbData;
    octets->data = blob->pbData;
    return TRUE;
}

BOOL TestBlob_GetBufferSize(Asn1Context *, void *value, DWORD *pcbStructInfo)
{
    if (g_fault == Fault::GetBufferSize) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    *pcbStructInfo = sizeof(CRYPT_DATA_BLOB) + static_cast<TestValue *>(value)->octets.numocts;
    return TRUE;
}

BOOL TestBlob_FillBuffer(Asn1Context *, void *value, void *pvBuffer, DWORD cbBuffer)
{
    if (g_fault == Fault::FillBuffer) {
        SetLastError(CRYPT_E_BAD_ENCODE);
        return FALSE;
    }
    const auto &octets = static_cast<TestValue *>(value)->octets;
    auto *blob = static_cast<CRYPT_DATA_BLOB *>(pvBuffer);
    blob->cbData = octets.numocts;
    blob->pbData = reinterpret_cast<BYTE *>(blob + 1);
    std::memcpy(blob->pbData, octets.data, octets.numocts);
    EXPECT_EQ(sizeof *blob + octets.numocts, cbBuffer);
    return TRUE;
}

// The test codec's four entry points, built like every structure's.
BOOL TestBlobEncodeEx(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void *pvStructInfo,
                      DWORD dwFlags, PCRYPT_ENCODE_PARA pEncodePara, void *pvEncoded,
                      DWORD *pcbEncoded)
{
    return EncodeStructEx<TestValue, asn1E_TestValue, TestBlob_FillAsn1cObject>(
        dwCertEncodingType, lpszStructType, pvStructInfo, dwFlags, pEncodePara, pvEncoded,
        pcbEncoded);
}

BOOL TestBlobDecodeEx(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE *pbEncoded,
                      DWORD cbEncoded, DWORD dwFlags, PCRYPT_DECODE_PARA pDecodePara,
                      void *pvStructInfo, DWORD *pcbStructInfo)
{
    return DecodeStructEx<TestValue, asn1D_TestValue, TestBlob_GetBufferSize, TestBlob_FillBuffer>(
        dwCertEncodingType, lpszStructType, pbEncoded, cbEncoded, dwFlags, pDecodePara,
        pvStructInfo, pcbStructInfo);
}

// ------------------------------------------------------------------ fixtures and helpers

constexpr DWORD kX509 = X509_ASN_ENCODING;
constexpr LPCSTR kStructType = "1.2.643.2.2.99";
constexpr DWORD kLastErrorSentinel = 0xDEADBEEF;

BYTE kPayload[] = {0x01, 0x02, 0x03, 0x80, 0xFF};
const CRYPT_DATA_BLOB kBlob = {sizeof kPayload, kPayload};
const std::vector<BYTE> kBlobDer = {0x04, 0x05, 0x01, 0x02, 0x03, 0x80, 0xFF};

// Caller allocator pair that counts its blocks.
int g_callerAllocs = 0;
int g_callerFrees = 0;
LPVOID WINAPI CallerAlloc(size_t cb)
{
    ++g_callerAllocs;
    return std::malloc(cb);
}
void WINAPI CallerFree(LPVOID pv)
{
    ++g_callerFrees;
    std::free(pv);
}
LPVOID WINAPI FailingAlloc(size_t)
{
    return nullptr;
}

class FrameTest : public testing::Test {
  protected:
    void SetUp() override
    {
        g_fault = Fault::None;
        g_initFailure = 0;
        g_contextsInitialised = g_contextsReleased = 0;
        g_callerAllocs = g_callerFrees = 0;
        SetLastError(kLastErrorSentinel);
    }
    // Every context made was released exactly once.
    void TearDown() override { EXPECT_EQ(g_contextsInitialised, g_contextsReleased); }
};

// ------------------------------------------------------------------ argument checks

// The cases of tests/data/frame/arguments.txt through the test codec.
TEST_F(FrameTest, RejectsBadArgumentsInOrder)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("frame/arguments.txt")) {
        SCOPED_TRACE(c.where);
        kvtest::ClearTrace();
        const bool encode = c.Get("Call") == "encode";
        const std::string nulls = c.Get("Null", "");
        const auto given = [&](const char *what) { return nulls.find(what) == std::string::npos; };
        const auto dwEncoding = static_cast<DWORD>(c.Number("Encoding", "1"));
        const LPCSTR structType = given("StructType") ? kStructType : nullptr;
        const auto dwFlags = static_cast<DWORD>(c.Number("Flags", "0"));
        std::array<BYTE, 64> out;
        out.fill(0xA5);
        void *allocated = nullptr;
        void *pvOut = !given("Output")                      ? nullptr
                      : (dwFlags & CRYPT_ENCODE_ALLOC_FLAG) ? static_cast<void *>(&allocated)
                                                            : out.data();
        DWORD cb = 64;
        DWORD *pcb = given("Size") ? &cb : nullptr;
        EXPECT_FALSE(encode ? TestBlobEncodeEx(dwEncoding, structType,
                                               given("Input") ? &kBlob : nullptr, dwFlags, nullptr,
                                               pvOut, pcb)
                            : TestBlobDecodeEx(dwEncoding, structType,
                                               given("Input") ? kBlobDer.data() : nullptr,
                                               static_cast<DWORD>(c.Number("Length", "7")), dwFlags,
                                               nullptr, pvOut, pcb));
        EXPECT_EQ(c.Get("Error") == "NTE_BAD_FLAGS" ? DWORD(NTE_BAD_FLAGS)
                                                    : DWORD(ERROR_INVALID_PARAMETER),
                  GetLastError());
        EXPECT_EQ(64u, cb);
        EXPECT_EQ(nullptr, allocated);
        EXPECT_THAT(out, Each(0xA5));
        const char *validator = encode ? "ValidateCommonEncodeObjectParameterList("
                                       : "ValidateCommonDecodeObjectParameterList(";
        EXPECT_THAT(kvtest::TraceLines(),
                    ElementsAre(AllOf(HasSubstr(validator), HasSubstr(c.Get("Message")))));
        EXPECT_EQ(0, g_contextsInitialised);
    }
}

// ------------------------------------------------------------------ output-buffer protocol

// A buffer one byte short: ERROR_MORE_DATA, the size needed, the buffer untouched, and the
// frame's message (the length query and exact buffers run in every codec's tests).
TEST_F(FrameTest, ShortBufferGetsTheSizeAndAMessage)
{
    std::array<BYTE, 64> out;
    out.fill(0xA5);
    DWORD cb = static_cast<DWORD>(kBlobDer.size() - 1);
    EXPECT_FALSE(TestBlobEncodeEx(kX509, kStructType, &kBlob, 0, nullptr, out.data(), &cb));
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, GetLastError());
    EXPECT_EQ(kBlobDer.size(), cb);
    cb = sizeof(CRYPT_DATA_BLOB) + sizeof kPayload - 1;
    EXPECT_FALSE(TestBlobDecodeEx(kX509, kStructType, kBlobDer.data(),
                                  static_cast<DWORD>(kBlobDer.size()), 0, nullptr, out.data(),
                                  &cb));
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, GetLastError());
    EXPECT_EQ(sizeof(CRYPT_DATA_BLOB) + sizeof kPayload, cb);
    EXPECT_THAT(out, Each(0xA5));
    EXPECT_THAT(
        kvtest::TraceLines(),
        ElementsAre(
            AllOf(HasSubstr("ObjectEncodeEx("), HasSubstr("pvEncoded length is too small")),
            AllOf(HasSubstr("ObjectDecodeEx("), HasSubstr("pvStructInfo length is too small"))));
}

// Allocation mode takes the caller's pair only when the record is complete and both
// functions are there; anything less falls back to the default pair for both.
TEST_F(FrameTest, AllocationModeChoosesTheMemoryPair)
{
    struct Row {
        const char *name;
        DWORD cbSize;
        PFN_CRYPT_ALLOC pfnAlloc;
        PFN_CRYPT_FREE pfnFree;
        bool callerPair;
    } rows[] = {
        {"Complete", sizeof(CRYPT_ENCODE_PARA), CallerAlloc, CallerFree, true},
        {"ZeroSize", 0, CallerAlloc, CallerFree, false},
        {"NoFree", sizeof(CRYPT_ENCODE_PARA), CallerAlloc, nullptr, false},
        {"NoAlloc", sizeof(CRYPT_ENCODE_PARA), nullptr, CallerFree, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        g_callerAllocs = g_callerFrees = 0;
        CRYPT_ENCODE_PARA encodePara = {row.cbSize, row.pfnAlloc, row.pfnFree};
        BYTE *pbEncoded = nullptr;
        DWORD cb = 12345; // ignored in allocation mode
        ASSERT_TRUE(TestBlobEncodeEx(kX509, kStructType, &kBlob, CRYPT_ENCODE_ALLOC_FLAG,
                                     &encodePara, &pbEncoded, &cb));
        ASSERT_EQ(kBlobDer.size(), cb);
        EXPECT_EQ(kBlobDer, std::vector<BYTE>(pbEncoded, pbEncoded + cb));
        EXPECT_EQ(row.callerPair ? 1 : 0, g_callerAllocs);
        if (row.callerPair)
            CallerFree(pbEncoded);
        else
            EXPECT_TRUE(KVSUPFreeMemory(pbEncoded));

        CRYPT_DECODE_PARA decodePara = {row.cbSize, row.pfnAlloc, row.pfnFree};
        CRYPT_DATA_BLOB *decoded = nullptr;
        ASSERT_TRUE(TestBlobDecodeEx(kX509, kStructType, kBlobDer.data(),
                                     static_cast<DWORD>(kBlobDer.size()), CRYPT_DECODE_ALLOC_FLAG,
                                     &decodePara, &decoded, &cb));
        EXPECT_EQ(sizeof(CRYPT_DATA_BLOB) + sizeof kPayload, cb);
        EXPECT_EQ(0, std::memcmp(kPayload, decoded->pbData, sizeof kPayload));
        EXPECT_EQ(row.callerPair ? 2 : 0, g_callerAllocs);
        if (row.callerPair)
            CallerFree(decoded);
        else
            EXPECT_TRUE(KVSUPFreeMemory(decoded));
    }
}

TEST_F(FrameTest, AllocatorFailureIsNoMemory)
{
    CRYPT_ENCODE_PARA encodePara = {sizeof encodePara, FailingAlloc, CallerFree};
    BYTE *pbEncoded = nullptr;
    DWORD cb = 0;
    EXPECT_FALSE(TestBlobEncodeEx(kX509, kStructType, &kBlob, CRYPT_ENCODE_ALLOC_FLAG, &encodePara,
                                  &pbEncoded, &cb));
    EXPECT_EQ(NTE_NO_MEMORY, GetLastError());
    EXPECT_EQ(nullptr, pbEncoded);
    EXPECT_EQ(0u, cb);

    CRYPT_DECODE_PARA decodePara = {sizeof decodePara, FailingAlloc, CallerFree};
    void *decoded = nullptr;
    EXPECT_FALSE(TestBlobDecodeEx(kX509, kStructType, kBlobDer.data(),
                                  static_cast<DWORD>(kBlobDer.size()), CRYPT_DECODE_ALLOC_FLAG,
                                  &decodePara, &decoded, &cb));
    EXPECT_EQ(NTE_NO_MEMORY, GetLastError());
    EXPECT_EQ(nullptr, decoded);
    EXPECT_THAT(kvtest::TraceLines(),
                ElementsAre(AllOf(HasSubstr("ObjectEncodeEx("), HasSubstr("pfnAlloc() failed")),
                            AllOf(HasSubstr("ObjectDecodeEx("), HasSubstr("pfnAlloc() failed"))));
}

// ------------------------------------------------------------------ failures after the checks

// A callback's failure reaches the caller with the callback's code and no frame message.
TEST_F(FrameTest, CallbackFailuresPassThrough)
{
    struct Row {
        const char *name;
        Fault fault;
        DWORD dwFlags;
        DWORD expectedError;
    } rows[] = {
        {"FillAsn1cObject", Fault::FillAsn1cObject, 0, ERROR_INVALID_DATA},
        {"GetBufferSize", Fault::GetBufferSize, 0, ERROR_INVALID_DATA},
        {"FillBufferCallerBuffer", Fault::FillBuffer, 0, CRYPT_E_BAD_ENCODE},
        {"FillBufferAllocated", Fault::FillBuffer, CRYPT_DECODE_ALLOC_FLAG, CRYPT_E_BAD_ENCODE},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        g_fault = row.fault;
        g_callerAllocs = g_callerFrees = 0;
        kvtest::ClearTrace();
        BOOL ok;
        DWORD cb = 64;
        alignas(CRYPT_DATA_BLOB) std::array<BYTE, 64> out{};
        void *allocated = nullptr;
        if (row.fault == Fault::FillAsn1cObject) {
            ok = TestBlobEncodeEx(kX509, kStructType, &kBlob, 0, nullptr, out.data(), &cb);
        } else {
            CRYPT_DECODE_PARA para = {sizeof para, CallerAlloc, CallerFree};
            void *pvStructInfo = row.dwFlags ? static_cast<void *>(&allocated) : out.data();
            ok = TestBlobDecodeEx(kX509, kStructType, kBlobDer.data(),
                                  static_cast<DWORD>(kBlobDer.size()), row.dwFlags, &para,
                                  pvStructInfo, &cb);
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(row.expectedError, GetLastError());
        EXPECT_EQ(64u, cb);
        EXPECT_EQ(nullptr, allocated);
        EXPECT_EQ(g_callerAllocs, g_callerFrees); // a block handed out is taken back
        EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
    }
}

TEST_F(FrameTest, ContextInitialisationFailure)
{
    g_initFailure = ASN_E_NOMEM;
    DWORD cb = 0;
    EXPECT_FALSE(TestBlobEncodeEx(kX509, kStructType, &kBlob, 0, nullptr, nullptr, &cb));
    EXPECT_EQ(CRYPT_E_ASN1_ERROR, GetLastError());
    EXPECT_FALSE(TestBlobDecodeEx(kX509, kStructType, kBlobDer.data(),
                                  static_cast<DWORD>(kBlobDer.size()), 0, nullptr, nullptr, &cb));
    EXPECT_THAT(kvtest::TraceLines(),
                Each(AllOf(HasSubstr("InitializeAsn1cContext("),
                           HasSubstr("call to rtInitContext() failed, result = -12"))));
    EXPECT_EQ(0, g_contextsReleased); // nothing to release
}

// With no trace context every failure still sets its code, and nothing is written.
TEST_F(FrameTest, SilentWithoutTraceContext)
{
    TSupportDbContext *saved = db_ctx;
    db_ctx = nullptr;
    DWORD cb = 0;
    EXPECT_FALSE(TestBlobEncodeEx(0, kStructType, &kBlob, 0, nullptr, nullptr, &cb));
    db_ctx = saved;
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
}

// ------------------------------------------------------------------ nested-work helpers

TEST_F(FrameTest, NestedEncodeCopiesOntoTheContextHeap)
{
    Asn1Context ctx;
    ASSERT_TRUE(InitializeAsn1cContext(&ctx));
    TestValue value = {{sizeof kPayload, kPayload}};
    BYTE *pbFirst = nullptr;
    DWORD cbFirst = 0;
    ASSERT_TRUE(
        Asn1cObjectEncodeContextAlloc(&ctx, &value, EncodeAs<asn1E_TestValue>, &pbFirst, &cbFirst));
    // A later encode on the same context must not disturb the copy.
    TestValue other = {{2, kPayload}};
    DWORD cbOther = 0;
    ASSERT_TRUE(Asn1cObjectEncode(&ctx, &other, EncodeAs<asn1E_TestValue>, &cbOther));
    EXPECT_EQ(kBlobDer, std::vector<BYTE>(pbFirst, pbFirst + cbFirst));
    EXPECT_EQ((std::vector<BYTE>{0x04, 0x02, 0x01, 0x02}),
              std::vector<BYTE>(xe_getp(&ctx), xe_getp(&ctx) + cbOther));

    TestValue decoded{};
    ASSERT_TRUE(Asn1cObjectDecode(&ctx, pbFirst, cbFirst, &decoded, DecodeAs<asn1D_TestValue>));
    EXPECT_EQ(sizeof kPayload, decoded.octets.numocts);

    // An empty blob is nothing to decode: its header must not be read from beyond it.
    EXPECT_FALSE(Asn1cObjectDecode(&ctx, pbFirst, 0, &decoded, DecodeAs<asn1D_TestValue>));
    EXPECT_EQ(CRYPT_E_ASN1_ERROR, GetLastError());
    EXPECT_THAT(kvtest::TraceLines(),
                ElementsAre(HasSubstr("call to xd_setp() failed, result = -2")));
    rtFreeContext(&ctx);
}

} // namespace

namespace {

// Nested CryptoAPI codecs: the host's multi-byte integer codec, with its output kept on the
// context heap.
TEST_F(FrameTest, NestedCryptoApiCodecs)
{
    Asn1Context ctx;
    ASSERT_TRUE(InitializeAsn1cContext(&ctx));
    BYTE littleEndian[] = {0x80, 0x00}; // +128, two's complement, least significant octet first
    const CRYPT_INTEGER_BLOB serial = {sizeof littleEndian, littleEndian};
    BYTE *pbEncoded = nullptr;
    DWORD cbEncoded = 0;
    ASSERT_TRUE(CryptEncodeObjectContextAlloc(&ctx, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                              X509_MULTI_BYTE_INTEGER, &serial, &pbEncoded,
                                              &cbEncoded));
    EXPECT_EQ((std::vector<BYTE>{0x02, 0x02, 0x00, 0x80}),
              std::vector<BYTE>(pbEncoded, pbEncoded + cbEncoded));

    void *pvDecoded = nullptr;
    ASSERT_TRUE(CryptDecodeObjectContextAlloc(&ctx, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                              X509_MULTI_BYTE_INTEGER, pbEncoded, cbEncoded, 0,
                                              &pvDecoded));
    const auto *decoded = static_cast<const CRYPT_INTEGER_BLOB *>(pvDecoded);
    EXPECT_EQ(std::vector<BYTE>(littleEndian, littleEndian + sizeof littleEndian),
              std::vector<BYTE>(decoded->pbData, decoded->pbData + decoded->cbData));

    // The host's own failure code reaches the caller, and its number the trace.
    EXPECT_FALSE(CryptEncodeObjectContextAlloc(
        &ctx, X509_ASN_ENCODING, reinterpret_cast<LPCSTR>(9999), &serial, &pbEncoded, &cbEncoded));
    const DWORD hostError = GetLastError();
    EXPECT_NE(0u, hostError);
    const BYTE notAnInteger[] = {0x04, 0x01, 0x00};
    EXPECT_FALSE(CryptDecodeObjectContextAlloc(&ctx, X509_ASN_ENCODING, X509_MULTI_BYTE_INTEGER,
                                               notAnInteger, sizeof notAnInteger, 0, &pvDecoded));
    // The library's own lines: CryptoAPI traces its lookup failure under its own name.
    std::vector<std::string> libraryLines;
    for (const std::string &line : kvtest::TraceLines())
        if (line.starts_with("kvext: ")) libraryLines.push_back(line);
    EXPECT_THAT(libraryLines,
                ElementsAre(AllOf(HasSubstr("CryptEncodeObjectContextAlloc("),
                                  HasSubstr("call to CryptEncodeObject() failed, result = " +
                                            std::to_string(static_cast<int>(hostError)))),
                            AllOf(HasSubstr("CryptDecodeObjectContextAlloc("),
                                  HasSubstr("call to CryptDecodeObject() failed, result = "))));
    rtFreeContext(&ctx);
}

} // namespace
