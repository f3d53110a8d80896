// What `kvext envelope` and `kvext open` share: recipient certificates as CryptoAPI takes
// them, the files they read and write in pieces, and the failure report.
#pragma once

#include <wincrypt.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kvext::tool {

using Bytes = std::vector<BYTE>;

// A recipient certificate (PEM or DER) taken apart for CryptoAPI: its public-key info and
// issuer with the blocks they point into. Throws CommandFailed after a report.
struct RecipientCert {
    std::string algorithmOid;
    Bytes algorithmParameters, publicKey, issuer, serialNumber; // serialNumber little-endian
    CERT_PUBLIC_KEY_INFO PublicKeyInfo() const;
    CERT_ID Id() const;
};
RecipientCert LoadRecipientCert(const std::string &path);

// The input, "-" for stdin; its size when it is a regular file.
struct Input {
    FILE *file = nullptr;
    bool owned = false;
    long long size = -1;
    ~Input();
};
void OpenInput(const std::string &path, Input *pIn);

// The output: written to a temporary file beside the named one and renamed over it by
// Commit, removed when the command fails; "-" is stdout.
class Output {
  public:
    explicit Output(std::string path);
    ~Output();
    void Write(const BYTE *pb, size_t cb);
    void Commit();

  private:
    std::string path_, temporary_;
    FILE *file_ = nullptr;
    bool committed_ = false;
};

// Progress on stderr, for inputs over 1 MiB when stderr is a terminal.
class Progress {
  public:
    explicit Progress(long long total);
    void Advance(size_t cb);
    ~Progress();

  private:
    long long total_, done_ = 0;
    int shown_ = -1;
    bool enabled_;
};

// Reports a failed CryptoAPI call (its code in hex and by name) and throws CommandFailed.
[[noreturn]] void FailCall(const char *what);
// Reports a failure of the command's own and throws CommandFailed.
[[noreturn]] void FailWithMessage(const std::string &message);

} // namespace kvext::tool
