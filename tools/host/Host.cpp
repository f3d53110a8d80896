#include "Host.h"

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace kvhost {

Library::Library(const char *path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL))
{
    if (!handle_) std::printf("cannot load %s: %s\n", path, dlerror());
}

Library::~Library()
{
    if (handle_) dlclose(handle_);
}

void *Library::Find(const char *name) const
{
    void *entry = dlsym(handle_, name);
    if (!entry) std::printf("  %s is not exported\n", name);
    return entry;
}

std::vector<BYTE> EncodeAndShow(const Library &lib, const char *entryPoint, LPCSTR structType,
                                const void *pvStructInfo)
{
    auto encode = reinterpret_cast<EncodeExFn>(lib.Find(entryPoint));
    if (!encode) return {};
    BYTE *pbEncoded = nullptr;
    DWORD cbEncoded = 0;
    if (!encode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, structType, pvStructInfo,
                CRYPT_ENCODE_ALLOC_FLAG, nullptr, &pbEncoded, &cbEncoded)) {
        std::printf("  %s failed: 0x%08X\n", entryPoint, static_cast<unsigned>(GetLastError()));
        return {};
    }
    std::vector<BYTE> der(pbEncoded, pbEncoded + cbEncoded);
    std::free(pbEncoded); // the default allocator's block
    PrintHex("  encoded", der.data(), cbEncoded);
    return der;
}

void *Decode(const Library &lib, const char *entryPoint, LPCSTR structType,
             const std::vector<BYTE> &der)
{
    auto decode = reinterpret_cast<DecodeExFn>(lib.Find(entryPoint));
    if (!decode) return nullptr;
    void *pvStructInfo = nullptr;
    DWORD cbStructInfo = 0;
    if (!decode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, structType, der.data(),
                static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &pvStructInfo,
                &cbStructInfo)) {
        std::printf("  %s failed: 0x%08X\n", entryPoint, static_cast<unsigned>(GetLastError()));
        return nullptr;
    }
    std::printf("  decoded into one block of %u bytes\n", static_cast<unsigned>(cbStructInfo));
    return pvStructInfo;
}

std::string &SamplesDirectory()
{
    static std::string directory = KV_HOST_SAMPLES;
    return directory;
}

void SetSamplesDirectory(const std::string &directory)
{
    SamplesDirectory() = directory;
}

std::string SamplePath(const std::string &name)
{
    return SamplesDirectory() + "/" + name;
}

std::vector<BYTE> ReadSample(const std::string &name)
{
    std::ifstream in(SamplePath(name), std::ios::binary);
    std::vector<BYTE> der{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::printf("  sample %s: %zu bytes\n", name.c_str(), der.size());
    return der;
}

void PrintHex(const char *label, const BYTE *pb, DWORD cb)
{
    std::printf("%s (%u):", label, static_cast<unsigned>(cb));
    for (DWORD i = 0; i < cb; ++i)
        std::printf("%s%02X", (i % 32 == 0) ? "\n    " : " ", pb[i]);
    std::printf("\n");
}

std::string FileTimeText(const FILETIME &ft)
{
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st)) return "(out of range)";
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond);
    return text;
}

std::vector<Demo> &DemoList()
{
    static std::vector<Demo> demos;
    return demos;
}

bool RegisterDemo(Demo demo)
{
    DemoList().push_back(demo);
    return true;
}

const std::vector<Demo> &Demos()
{
    return DemoList();
}

} // namespace kvhost
