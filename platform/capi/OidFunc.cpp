// The OID-function registry: function sets, the registration file that takes the place of
// the host's registry, and the libraries it names.
//
// The file holds one registration a line, fields separated by spaces or tabs:
//     <function set> <encoding type> <OID or #type> <library path> <entry point>
// Lines starting with '#' and blank lines are comments. The file is read again whenever it
// changes on disk, so registrations made by another process are seen by the next lookup.
// A malformed line makes the whole file unusable (ERROR_BADDB): a registry that is read half
// would bind some OIDs and silently drop others.
//
// A library is loaded with dlopen the first time one of its functions is asked for, once,
// and closed when the process exits.
#include "OidFunc.h"
#include "Trace.h"
#include "wincrypt.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

#ifndef KV_OIDFUNC_DEFAULT_REGISTRY
#error "KV_OIDFUNC_DEFAULT_REGISTRY must name the default registration file"
#endif

namespace {

constexpr char kNewFileHeader[] =
    "# OID functions: <function set> <encoding type> <OID or #type> <library> <entry point>\n";

struct Registration {
    std::string set;
    DWORD encoding = 0;
    std::string oid;
    std::string library;
    std::string entryPoint;
};

// One line of the file as read: the text, and its registration unless it is a comment.
struct Line {
    std::string text;
    std::optional<Registration> registration;
};

// What identifies one version of the file on disk.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    bool operator==(const FileStamp &other) const
    {
        return exists == other.exists && device == other.device && inode == other.inode &&
               size == other.size && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

FileStamp StampOf(const std::string &path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return {};
    return {true, info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}

bool SameName(const std::string &a, LPCSTR b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

std::vector<std::string> Fields(const std::string &text)
{
    std::istringstream in(text);
    std::vector<std::string> fields;
    for (std::string field; in >> field;)
        fields.push_back(field);
    return fields;
}

bool ParseEncodingType(const std::string &text, DWORD *encoding)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno || *end || text[0] == '-' || value > 0xFFFFFFFFull) return false;
    *encoding = static_cast<DWORD>(value);
    return true;
}

// "#<number>" for a structure type of 1 to 65535, or a dotted OID text.
bool IsOidField(const std::string &text)
{
    if (text.empty()) return false;
    if (text[0] == '#') {
        char *end = nullptr;
        const unsigned long value = std::strtoul(text.c_str() + 1, &end, 10);
        return text.size() > 1 && !*end && value >= 1 && value <= 0xFFFF;
    }
    return text.find_first_not_of("0123456789.") == std::string::npos && text.front() != '.' &&
           text.back() != '.' && text.find("..") == std::string::npos;
}

// A reason when the line is malformed, empty otherwise.
std::string ParseLine(const std::string &text, Line *line)
{
    line->text = text;
    const std::vector<std::string> fields = Fields(text);
    if (fields.empty() || fields[0][0] == '#') return {};
    if (fields.size() != 5) return "expected 5 fields, found " + std::to_string(fields.size());
    Registration registration{fields[0], 0, fields[2], fields[3], fields[4]};
    if (!ParseEncodingType(fields[1], &registration.encoding))
        return "bad encoding type \"" + fields[1] + "\"";
    if (!IsOidField(fields[2])) return "bad OID \"" + fields[2] + "\"";
    line->registration = std::move(registration);
    return {};
}

std::string FormatLine(const Registration &registration)
{
    return registration.set + ' ' + std::to_string(registration.encoding) + ' ' + registration.oid +
           ' ' + registration.library + ' ' + registration.entryPoint;
}

DWORD ErrorOfErrno(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND; // a directory on the way is missing or is a file
    default:
        return ERROR_WRITE_FAULT;
    }
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// Writes `text` to `path` through a temporary file in the same directory, so that a reader
// sees the old file or the new one, never half of one. Returns 0 or the errno of the failure.
int ReplaceFile(const std::string &path, const std::string &text)
{
    std::error_code ignored;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return errno;
    fchmod(fd, 0644);
    int error = 0;
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        error = errno ? errno : EIO;
    if (close(fd) != 0 && !error) error = errno;
    if (!error && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error) unlink(temporary.c_str());
    return error;
}

struct LoadedLibrary {
    void *handle = nullptr;
};

class Registry {
  public:
    ~Registry()
    {
        for (auto &[path, library] : libraries_)
            dlclose(library.handle);
    }

    HCRYPTOIDFUNCSET InitSet(LPCSTR name)
    {
        std::lock_guard hold(lock_);
        for (std::string &set : sets_)
            if (SameName(set, name)) return &set;
        return &sets_.emplace_back(name);
    }

    BOOL Find(const std::string &set, DWORD encoding, const std::string &oid, void **function,
              HCRYPTOIDFUNCADDR *address)
    {
        std::lock_guard hold(lock_);
        if (!Refresh()) return FALSE;
        const Registration *found = Lookup(set, encoding, oid);
        if (!found) return Fail(ERROR_FILE_NOT_FOUND);
        return Resolve(*found, function, address);
    }

    BOOL Register(const Registration &registration)
    {
        std::lock_guard hold(lock_);
        if (!Refresh()) return FALSE;
        Line *same = LineOf(registration.set, registration.encoding, registration.oid);
        if (same) {
            same->registration = registration;
            same->text = FormatLine(registration);
        } else {
            if (lines_.empty()) lines_.push_back({kNewFileHeader, std::nullopt});
            lines_.push_back({FormatLine(registration), registration});
        }
        return Save();
    }

    BOOL Unregister(const std::string &set, DWORD encoding, const std::string &oid)
    {
        std::lock_guard hold(lock_);
        if (!Refresh()) return FALSE;
        Line *same = LineOf(set, encoding, oid);
        if (!same) return Fail(ERROR_FILE_NOT_FOUND);
        lines_.erase(lines_.begin() + (same - lines_.data()));
        return Save();
    }

  private:
    // Reads the file again when its path or its contents changed since the last read.
    BOOL Refresh()
    {
        const std::string path = kvcapi::RegistrationFilePath();
        const FileStamp stamp = StampOf(path);
        if (path != path_ || !(stamp == stamp_)) Read(path, stamp);
        if (loadError_) {
            KVCAPI_TRACE_ERROR("Registration file %s: %s", path_.c_str(), loadReason_.c_str());
            return Fail(loadError_);
        }
        return TRUE;
    }

    void Read(const std::string &path, const FileStamp &stamp)
    {
        path_ = path;
        stamp_ = stamp;
        lines_.clear();
        loadError_ = 0;
        if (!stamp.exists) return; // no file: nothing registered yet
        std::ifstream in(path);
        if (!in) {
            loadError_ = ERROR_ACCESS_DENIED;
            loadReason_ = std::strerror(errno);
            return;
        }
        size_t number = 0;
        for (std::string text; std::getline(in, text);) {
            Line &line = lines_.emplace_back();
            if (const std::string reason = ParseLine(text, &line); !reason.empty()) {
                loadError_ = ERROR_BADDB;
                loadReason_ = "line " + std::to_string(number + 1) + ": " + reason;
                lines_.clear();
                return;
            }
            ++number;
        }
    }

    Line *LineOf(const std::string &set, DWORD encoding, const std::string &oid)
    {
        for (Line &line : lines_) {
            const std::optional<Registration> &entry = line.registration;
            if (entry && entry->encoding == encoding && SameName(entry->set, set.c_str()) &&
                SameName(entry->oid, oid.c_str()))
                return &line;
        }
        return nullptr;
    }

    const Registration *Lookup(const std::string &set, DWORD encoding, const std::string &oid)
    {
        const Line *line = LineOf(set, encoding, oid);
        return line ? &*line->registration : nullptr;
    }

    BOOL Resolve(const Registration &registration, void **function, HCRYPTOIDFUNCADDR *address)
    {
        LoadedLibrary *library = OpenLibrary(registration.library);
        if (!library) return FALSE;
        dlerror();
        *function = dlsym(library->handle, registration.entryPoint.c_str());
        if (!*function) {
            KVCAPI_TRACE_ERROR("Entry point %s not found in %s (%s %s)",
                               registration.entryPoint.c_str(), registration.library.c_str(),
                               registration.set.c_str(), registration.oid.c_str());
            return Fail(ERROR_PROC_NOT_FOUND);
        }
        *address = library;
        return TRUE;
    }

    LoadedLibrary *OpenLibrary(const std::string &path)
    {
        if (const auto loaded = libraries_.find(path); loaded != libraries_.end())
            return &loaded->second;
        void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            KVCAPI_TRACE_ERROR("Cannot load %s: %s", path.c_str(), dlerror());
            Fail(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        return &libraries_.emplace(path, LoadedLibrary{handle}).first->second;
    }

    BOOL Save()
    {
        std::string text;
        for (const Line &line : lines_)
            text += line.text + (line.text.ends_with('\n') ? "" : "\n");
        const int error = ReplaceFile(path_, text);
        if (error) {
            KVCAPI_TRACE_ERROR("Cannot write registration file %s: %s", path_.c_str(),
                               std::strerror(error));
            path_.clear(); // read it again next time
            return Fail(ErrorOfErrno(error));
        }
        stamp_ = StampOf(path_);
        return TRUE;
    }

    std::mutex lock_;
    std::list<std::string> sets_; // a set's handle is the address of its name
    std::string path_;
    FileStamp stamp_;
    std::vector<Line> lines_;
    DWORD loadError_ = 0;
    std::string loadReason_;
    std::map<std::string, LoadedLibrary> libraries_; // by path; stable addresses
};

Registry &TheRegistry()
{
    static Registry registry;
    return registry;
}

std::optional<Registration> RegistrationOf(DWORD dwEncodingType, LPCSTR pszFuncName, LPCSTR pszOID)
{
    if (!pszFuncName || !pszOID) return std::nullopt;
    return Registration{pszFuncName,
                        kvcapi::RegisteredEncodingType(dwEncodingType),
                        kvcapi::OidKey(pszOID),
                        {},
                        {}};
}

// The library path as UTF-8; empty when it does not convert.
std::string NarrowPath(LPCWSTR pwszDll)
{
    const int cb = WideCharToMultiByte(CP_UTF8, 0, pwszDll, -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 1) return {};
    std::string path(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, pwszDll, -1, path.data(), cb, nullptr, nullptr);
    path.pop_back();
    return path;
}

bool HasSpace(const std::string &text)
{
    return text.find_first_of(" \t\r\n") != std::string::npos;
}

} // namespace

namespace kvcapi {

std::string RegistrationFilePath()
{
    const char *path = std::getenv("KV_OIDFUNC_REGISTRY");
    return path && *path ? path : KV_OIDFUNC_DEFAULT_REGISTRY;
}

DWORD RegisteredEncodingType(DWORD dwEncodingType)
{
    const DWORD certType = dwEncodingType & CERT_ENCODING_TYPE_MASK;
    return certType ? certType : (dwEncodingType & CMSG_ENCODING_TYPE_MASK) >> 16;
}

std::string OidKey(LPCSTR pszOID)
{
    if (!IS_INTOID(pszOID)) return pszOID;
    char key[8]; // "#65535" and its terminator
    std::snprintf(key, sizeof key, "#%u",
                  static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(pszOID)));
    return key;
}

void *FindOidFunction(LPCSTR setName, DWORD dwEncodingType, LPCSTR pszOID, OidFunctionAddress *hold)
{
    HCRYPTOIDFUNCSET set = CryptInitOIDFunctionSet(setName, 0);
    if (!set) return nullptr;
    void *function = nullptr;
    HCRYPTOIDFUNCADDR address = nullptr;
    if (!CryptGetOIDFunctionAddress(set, dwEncodingType, pszOID, 0, &function, &address))
        return nullptr;
    hold->reset(address);
    return function;
}

TSupportDbContext *TraceContext()
{
    static TSupportDbContext *const context = support_print_init(nullptr, "kvcapi", nullptr, 0x7F);
    return context;
}

} // namespace kvcapi

extern "C" {

HCRYPTOIDFUNCSET WINAPI CryptInitOIDFunctionSet(LPCSTR pszFuncName, DWORD /*dwFlags*/)
{
    if (!pszFuncName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        return TheRegistry().InitSet(pszFuncName);
    } catch (...) { // only allocation can fail; nothing is thrown across the C ABI
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL WINAPI CryptGetOIDFunctionAddress(HCRYPTOIDFUNCSET hFuncSet, DWORD dwEncodingType,
                                       LPCSTR pszOID, DWORD dwFlags, void **ppvFuncAddr,
                                       HCRYPTOIDFUNCADDR *phFuncAddr)
{
    // A null pszOID is structure type 0, which nothing can be registered for.
    if (!hFuncSet || !ppvFuncAddr || !phFuncAddr) return Fail(ERROR_INVALID_PARAMETER);
    *ppvFuncAddr = nullptr;
    *phFuncAddr = nullptr;
    // Nothing is installed in-process: every function comes from the registration file.
    if (dwFlags & CRYPT_GET_INSTALLED_OID_FUNC_FLAG) return Fail(ERROR_FILE_NOT_FOUND);
    try {
        return TheRegistry().Find(*static_cast<const std::string *>(hFuncSet),
                                  kvcapi::RegisteredEncodingType(dwEncodingType),
                                  kvcapi::OidKey(pszOID), ppvFuncAddr, phFuncAddr);
    } catch (...) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

// Libraries stay loaded until the process exits, so there is nothing to release here.
BOOL WINAPI CryptFreeOIDFunctionAddress(HCRYPTOIDFUNCADDR /*hFuncAddr*/, DWORD /*dwFlags*/)
{
    return TRUE;
}

BOOL WINAPI CryptRegisterOIDFunction(DWORD dwEncodingType, LPCSTR pszFuncName, LPCSTR pszOID,
                                     LPCWSTR pwszDll, LPCSTR pszOverrideFuncName)
{
    if (!pwszDll) return TRUE; // the host registers nothing without a library either
    try {
        std::optional<Registration> registration =
            RegistrationOf(dwEncodingType, pszFuncName, pszOID);
        if (!registration) return Fail(E_INVALIDARG);
        registration->library = NarrowPath(pwszDll);
        registration->entryPoint = pszOverrideFuncName ? pszOverrideFuncName : pszFuncName;
        // Every field is one word of a line in the file.
        if (registration->library.empty() || HasSpace(registration->library) ||
            registration->set.empty() || registration->set[0] == '#' ||
            HasSpace(registration->set) || registration->entryPoint.empty() ||
            HasSpace(registration->entryPoint) || !IsOidField(registration->oid))
            return Fail(E_INVALIDARG);
        return TheRegistry().Register(*registration);
    } catch (...) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

BOOL WINAPI CryptUnregisterOIDFunction(DWORD dwEncodingType, LPCSTR pszFuncName, LPCSTR pszOID)
{
    try {
        const std::optional<Registration> registration =
            RegistrationOf(dwEncodingType, pszFuncName, pszOID);
        if (!registration) return Fail(E_INVALIDARG);
        return TheRegistry().Unregister(registration->set, registration->encoding,
                                        registration->oid);
    } catch (...) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

} // extern "C"
