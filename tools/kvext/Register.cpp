// kvext register / kvext unregister: installs libkvext's entry points in CryptoAPI's
// OID-function sets, or removes them, from the registration table (registrations.txt), the
// way a module registers itself on the host: through CryptRegisterOIDFunction.
#include "Tool.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace kvext::tool {

extern const char kRegistrationTable[]; // RegistrationTable.cpp, made from registrations.txt

namespace {

constexpr DWORD kEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct Registration {
    std::string set;
    std::string entryPoint;
    std::string oid; // dotted, or "#<n>" for a predefined structure type
};

// One registration per function set and OID, in the table's order.
std::vector<Registration> TableRegistrations()
{
    std::vector<Registration> registrations;
    std::istringstream table(kRegistrationTable);
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string set, entryPoint, oids;
        if (!(fields >> set >> entryPoint >> oids) || set[0] == '#') continue;
        std::istringstream list(oids);
        for (std::string oid; std::getline(list, oid, ',');)
            registrations.push_back({set, entryPoint, oid});
    }
    return registrations;
}

LPCSTR OidArgument(const Registration &registration)
{
    if (registration.oid[0] != '#') return registration.oid.c_str();
    return reinterpret_cast<LPCSTR>(std::stoul(registration.oid.substr(1)));
}

std::wstring Wide(const std::string &text)
{
    const int cch = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(cch > 0 ? cch : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), cch);
    wide.resize(wide.size() - 1);
    return wide;
}

// Each registered function must load: a wrong path or a library of another version is
// reported now rather than at the first decode.
void CheckLoads(const std::vector<Registration> &registrations)
{
    for (const Registration &registration : registrations) {
        void *function = nullptr;
        HCRYPTOIDFUNCADDR address = nullptr;
        if (!CryptGetOIDFunctionAddress(CryptInitOIDFunctionSet(registration.set.c_str(), 0),
                                        kEncodingType, OidArgument(registration), 0, &function,
                                        &address))
            FailCryptoApi("loading " + registration.entryPoint + " (" + registration.set + " " +
                          registration.oid + ")");
        CryptFreeOIDFunctionAddress(address, 0);
    }
}

void Register(const std::string &library)
{
    const std::string path = std::filesystem::absolute(library).lexically_normal().string();
    const std::wstring widePath = Wide(path);
    const std::vector<Registration> registrations = TableRegistrations();
    for (const Registration &registration : registrations)
        if (!CryptRegisterOIDFunction(kEncodingType, registration.set.c_str(),
                                      OidArgument(registration), widePath.c_str(),
                                      registration.entryPoint.c_str()))
            FailCryptoApi("registering " + registration.set + " " + registration.oid);
    CheckLoads(registrations);
    std::cout << "registered " << registrations.size() << " functions of " << path << '\n';
}

// Registrations that are not there are no failure: unregistering twice is harmless.
void Unregister()
{
    size_t removed = 0;
    for (const Registration &registration : TableRegistrations()) {
        if (CryptUnregisterOIDFunction(kEncodingType, registration.set.c_str(),
                                       OidArgument(registration)))
            ++removed;
        else if (GetLastError() != ERROR_FILE_NOT_FOUND)
            FailCryptoApi("unregistering " + registration.set + " " + registration.oid);
    }
    std::cout << "unregistered " << removed << " functions\n";
}

// --registry FILE stands for KV_OIDFUNC_REGISTRY; failures print CryptoAPI's trace line.
void UseRegistry(const std::string &registry)
{
    if (!registry.empty()) setenv("KV_OIDFUNC_REGISTRY", registry.c_str(), 1);
    setenv("KV_TRACE_MASK", "1", 0);
}

constexpr char kRegistryHelp[] =
    "Registration file to change (default: $KV_OIDFUNC_REGISTRY, else CryptoAPI's own)";

} // namespace

void AddRegisterCommand(CLI::App &app)
{
    CLI::App *command = app.add_subcommand(
        "register", "Register libkvext's functions for every structure and algorithm OID it "
                    "serves, then check that each of them loads");
    auto library = std::make_shared<std::string>(KV_INSTALLED_LIBRARY);
    auto registry = std::make_shared<std::string>();
    command->add_option("--library", *library, "Path of libkvext.so.4 to register")
        ->capture_default_str();
    command->add_option("--registry", *registry, kRegistryHelp);
    command->callback([library, registry] {
        UseRegistry(*registry);
        Register(*library);
    });
}

void AddUnregisterCommand(CLI::App &app)
{
    CLI::App *command = app.add_subcommand(
        "unregister",
        "Remove the registrations `kvext register` makes, whatever library they name");
    auto registry = std::make_shared<std::string>();
    command->add_option("--registry", *registry, kRegistryHelp);
    command->callback([registry] {
        UseRegistry(*registry);
        Unregister();
    });
}

} // namespace kvext::tool
