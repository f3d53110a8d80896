#include "EnvelopeFiles.h"

#include "Command.h"
#include "Tool.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace kvext::tool {
namespace {

// The DER an i2d function writes into a block of its own.
template <typename Encode> Bytes Der(Encode &&encode)
{
    unsigned char *pb = nullptr;
    const int length = encode(&pb);
    Bytes out(pb, pb + std::max(length, 0));
    OPENSSL_free(pb);
    return out;
}

X509 *ReadCertificate(const std::string &path)
{
    BIO *bio = BIO_new_file(path.c_str(), "rb");
    if (!bio) FailWithMessage("cannot read " + path);
    X509 *cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    if (!cert) {
        BIO_reset(bio);
        cert = d2i_X509_bio(bio, nullptr);
    }
    BIO_free(bio);
    if (!cert) FailWithMessage(path + ": not a certificate (PEM or DER)");
    return cert;
}

} // namespace

[[noreturn]] void FailCall(const char *what)
{
    FailCryptoApi(what);
}

[[noreturn]] void FailWithMessage(const std::string &message)
{
    FailInput(message);
}

RecipientCert LoadRecipientCert(const std::string &path)
{
    std::unique_ptr<X509, decltype(&X509_free)> cert(ReadCertificate(path), X509_free);
    RecipientCert out;
    const unsigned char *pbKey = nullptr;
    int cbKey = 0;
    X509_ALGOR *algor = nullptr;
    X509_PUBKEY_get0_param(nullptr, &pbKey, &cbKey, &algor, X509_get_X509_PUBKEY(cert.get()));
    char oid[128] = {};
    OBJ_obj2txt(oid, sizeof oid, algor->algorithm, 1);
    out.algorithmOid = oid;
    if (algor->parameter)
        out.algorithmParameters =
            Der([&](unsigned char **ppb) { return i2d_ASN1_TYPE(algor->parameter, ppb); });
    out.publicKey.assign(pbKey, pbKey + cbKey);
    out.issuer = Der(
        [&](unsigned char **ppb) { return i2d_X509_NAME(X509_get_issuer_name(cert.get()), ppb); });
    const Bytes serial = Der([&](unsigned char **ppb) {
        return i2d_ASN1_INTEGER(X509_get_serialNumber(cert.get()), ppb);
    });
    if (serial.size() < 2 || serial[1] >= 0x80) FailWithMessage(path + ": serial number too long");
    out.serialNumber.assign(serial.rbegin(), serial.rend() - 2);
    return out;
}

CERT_PUBLIC_KEY_INFO RecipientCert::PublicKeyInfo() const
{
    CERT_PUBLIC_KEY_INFO info{};
    info.Algorithm.pszObjId = const_cast<LPSTR>(algorithmOid.c_str());
    info.Algorithm.Parameters = {static_cast<DWORD>(algorithmParameters.size()),
                                 const_cast<BYTE *>(algorithmParameters.data())};
    info.PublicKey = {static_cast<DWORD>(publicKey.size()), const_cast<BYTE *>(publicKey.data()),
                      0};
    return info;
}

CERT_ID RecipientCert::Id() const
{
    CERT_ID id{};
    id.dwIdChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
    id.IssuerSerialNumber.Issuer = {static_cast<DWORD>(issuer.size()),
                                    const_cast<BYTE *>(issuer.data())};
    id.IssuerSerialNumber.SerialNumber = {static_cast<DWORD>(serialNumber.size()),
                                          const_cast<BYTE *>(serialNumber.data())};
    return id;
}

Input::~Input()
{
    if (owned && file) std::fclose(file);
}

void OpenInput(const std::string &path, Input *pIn)
{
    if (path == "-") {
        pIn->file = stdin;
    } else {
        pIn->file = std::fopen(path.c_str(), "rb");
        if (!pIn->file) FailWithMessage("cannot read " + path + ": " + std::strerror(errno));
        pIn->owned = true;
    }
    struct stat st {};
    if (fstat(fileno(pIn->file), &st) == 0 && S_ISREG(st.st_mode)) pIn->size = st.st_size;
}

Output::Output(std::string path) : path_(std::move(path))
{
    if (path_ == "-") {
        file_ = stdout;
        return;
    }
    temporary_ = path_ + ".XXXXXX";
    const int fd = mkstemp(temporary_.data());
    const mode_t mask = umask(0);
    umask(mask);
    if (fd < 0 || fchmod(fd, 0666 & ~mask) != 0 || !(file_ = fdopen(fd, "wb")))
        FailWithMessage("cannot write " + path_ + ": " + std::strerror(errno));
}

Output::~Output()
{
    if (file_ == stdout || committed_) return;
    if (file_) std::fclose(file_);
    std::remove(temporary_.c_str());
}

void Output::Write(const BYTE *pb, size_t cb)
{
    if (cb && std::fwrite(pb, 1, cb, file_) != cb)
        FailWithMessage("cannot write " + path_ + ": " + std::strerror(errno));
}

void Output::Commit()
{
    if (std::fflush(file_) != 0) FailWithMessage("cannot write " + path_);
    if (file_ == stdout) return;
    std::fclose(file_);
    file_ = nullptr;
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0)
        FailWithMessage("cannot write " + path_ + ": " + std::strerror(errno));
    committed_ = true;
}

Progress::Progress(long long total)
    : total_(total), enabled_(total > (1 << 20) && isatty(STDERR_FILENO))
{
}

void Progress::Advance(size_t cb)
{
    done_ += static_cast<long long>(cb);
    if (!enabled_) return;
    const int percent = static_cast<int>(done_ * 100 / total_);
    if (percent == shown_) return;
    shown_ = percent;
    const int filled = percent / 5;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "====================", 20 - filled, "",
                 percent);
}

Progress::~Progress()
{
    if (enabled_ && shown_ >= 0) std::fputc('\n', stderr);
}

} // namespace kvext::tool
