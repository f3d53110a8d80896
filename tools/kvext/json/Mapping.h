// JSON mappings of the CryptoAPI structures the library codes: one source per structure,
// each a pair of functions beside the structure it mirrors, and the shared pieces (bytes,
// times, OIDs, names, algorithm identifiers, policies, general names) in Common.cpp.
// The schema is documented in docs/kvext-json.md.
#pragma once

#include <wincrypt.h>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kvext::tool {

// Ordered, so members come out in the order the schema lists them.
using Json = nlohmann::ordered_json;

// Owns everything a structure built from JSON points to; lives as long as the structure.
class Arena {
public:
    template <typename T> T *New(size_t count = 1)
    {
        const size_t units = (count * sizeof(T) + sizeof(std::max_align_t) - 1) /
                             sizeof(std::max_align_t);
        blocks_.push_back(std::make_unique<std::max_align_t[]>(units ? units : 1));
        return reinterpret_cast<T *>(blocks_.back().get());
    }
    BYTE *Bytes(const std::vector<BYTE> &bytes);
    LPSTR String(const std::string &text);
    LPWSTR Wide(const std::string &utf8);

private:
    std::deque<std::unique_ptr<std::max_align_t[]>> blocks_;
};

// A JSON field that does not fit the schema, named by its path ("value.Certs[0].CertHash").
struct JsonFieldError {
    std::string path;
    std::string message;
};

// A JSON value together with its path, so every complaint names the field.
class Field {
public:
    Field(const Json &value, std::string path) : value_(value), path_(std::move(path)) {}

    const Json &Value() const { return value_; }
    const std::string &Path() const { return path_; }

    // Members of an object: the object must have no others than `allowed`.
    void ExpectMembers(std::initializer_list<const char *> allowed) const;
    Field At(const char *name) const;                  // required member
    std::optional<Field> Find(const char *name) const; // optional; null counts as absent
    std::vector<Field> Items() const;                  // elements of an array

    std::string String() const;
    std::vector<BYTE> Hex() const;
    std::string Oid() const;
    FILETIME Time() const;
    DWORD Number() const;
    bool Bool() const;

    [[noreturn]] void Fail(const std::string &message) const;

private:
    const Json &value_;
    std::string path_;
};

// Shared pieces, CryptoAPI form <-> JSON form.
std::string HexText(const BYTE *pb, size_t cb);
Json BlobJson(const CRYPT_DATA_BLOB &blob);
CRYPT_DATA_BLOB BlobFrom(const Field &field, Arena &arena);
Json TimeJson(const FILETIME &time);
std::string Utf8(LPCWSTR text);
Json NameJson(const CERT_NAME_BLOB &name);
CERT_NAME_BLOB NameFrom(const Field &field, Arena &arena);
std::string NameText(const BYTE *pb, size_t cb); // RFC 4514 text, empty when not a Name
Json SerialJson(const CRYPT_INTEGER_BLOB &serial);
CRYPT_INTEGER_BLOB SerialFrom(const Field &field, Arena &arena);
Json AlgorithmJson(const CRYPT_ALGORITHM_IDENTIFIER &algorithm);
CRYPT_ALGORITHM_IDENTIFIER AlgorithmFrom(const Field &field, Arena &arena);
Json PoliciesJson(DWORD cPolicies, const CERT_POLICY_INFO *rgPolicies);
void PoliciesFrom(const Field &field, Arena &arena, DWORD *pcPolicies,
                  PCERT_POLICY_INFO *prgPolicies);
Json AltNamesJson(const CERT_ALT_NAME_INFO &names);
CERT_ALT_NAME_INFO AltNamesFrom(const Field &field, Arena &arena);

// The structures: decoded block -> JSON, and JSON -> a structure held by the arena.
#define KVEXT_JSON_MAPPING(Struct)                                                              \
    Json Struct##ToJson(const void *pvStructInfo);                                             \
    const void *Struct##FromJson(const Field &value, Arena &arena);
KVEXT_JSON_MAPPING(PrivateKeyUsagePeriod)
KVEXT_JSON_MAPPING(IssuerSignTool)
KVEXT_JSON_MAPPING(SigningCertificate)
KVEXT_JSON_MAPPING(SigningCertificateV2)
KVEXT_JSON_MAPPING(OtherSigningCertificate)
KVEXT_JSON_MAPPING(CrlDistributionPoints)
KVEXT_JSON_MAPPING(GostPrivateCertificateStore)
KVEXT_JSON_MAPPING(PrivateKeyDeriveCounter)
#undef KVEXT_JSON_MAPPING

// One structure type of the tool: its name, the OIDs it is registered under (the first is the
// one used when the name is given) and, where CryptoAPI predefines one, its numeric type.
struct Structure {
    const char *name;
    std::vector<const char *> oids;
    LPCSTR numericType;
    Json (*toJson)(const void *pvStructInfo);
    const void *(*fromJson)(const Field &value, Arena &arena);
};

const std::vector<Structure> &Structures();
// By name (case-insensitive), dotted OID or predefined number; null when none matches.
const Structure *FindStructure(const std::string &nameOrOid);

} // namespace kvext::tool
