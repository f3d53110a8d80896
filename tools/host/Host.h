// The example host's view of libkvext: the shared object opened with dlopen and its entry
// points looked up by name, the way CryptoAPI's OID-function dispatcher reaches them.
#pragma once

#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kvhost {

// CryptoAPI's prototypes of the installable encode and decode functions.
using EncodeExFn = BOOL(WINAPI *)(DWORD, LPCSTR, const void *, DWORD, PCRYPT_ENCODE_PARA, void *,
                                  DWORD *);
using DecodeExFn = BOOL(WINAPI *)(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, PCRYPT_DECODE_PARA,
                                  void *, DWORD *);

class Library {
  public:
    explicit Library(const char *path);
    ~Library();
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;
    bool loaded() const { return handle_ != nullptr; }
    // The entry point `name`, or null (with a message) when the library lacks it.
    void *Find(const char *name) const;

  private:
    void *handle_;
};

// Encodes with allocation mode and prints the DER; returns the bytes (empty on failure).
std::vector<BYTE> EncodeAndShow(const Library &lib, const char *entryPoint, LPCSTR structType,
                                const void *pvStructInfo);
// Decodes with allocation mode; the result is freed by the caller with free().
void *Decode(const Library &lib, const char *entryPoint, LPCSTR structType,
             const std::vector<BYTE> &der);
// Samples live beside an installed host (../share/kvext/samples) or in the source tree.
std::string SamplePath(const std::string &name);
void SetSamplesDirectory(const std::string &directory);
std::vector<BYTE> ReadSample(const std::string &name);
void PrintHex(const char *label, const BYTE *pb, DWORD cb);
std::string FileTimeText(const FILETIME &ft);

// A demo of one codec: encodes a caller structure and decodes sample DER, printing both.
struct Demo {
    const char *name;
    void (*run)(const Library &lib);
};
// Demos register themselves from their own source files (tools/host/demos/).
bool RegisterDemo(Demo demo);
const std::vector<Demo> &Demos();

} // namespace kvhost
