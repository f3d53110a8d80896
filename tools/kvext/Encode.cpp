// kvext encode: JSON -> CryptEncodeObjectEx -> DER or PEM. Takes what decode prints, or the
// bare value with --type.
#include "Tool.h"

#include <iostream>
#include <memory>

namespace kvext::tool {

namespace {

struct EncodeOptions {
    std::string input = "-";
    std::string type;
    std::string output = "-";
    bool pem = false;
};

Json ParseJson(const std::vector<BYTE> &text)
{
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error &e) {
        FailInput(std::string("malformed JSON: ") + e.what());
    }
}

// The structure type named by --type or by the document's "type"; they must agree.
std::string TypeOf(const EncodeOptions &options, const Field &document)
{
    // The OID names the registration to use; the type only the structure.
    std::string named;
    if (auto oid = document.Find("oid")) named = oid->Oid();
    else if (auto type = document.Find("type")) named = type->String();
    if (options.type.empty()) {
        if (named.empty()) FailInput("name the structure with --type or a \"type\" member");
        return named;
    }
    if (!named.empty() && FindStructure(named) != FindStructure(options.type))
        FailInput("--type " + options.type + " differs from the document's type " + named);
    return options.type;
}

void RunEncode(const EncodeOptions &options)
{
    const Json json = ParseJson(ReadInput(options.input));
    const bool wrapped = json.is_object() && json.contains("value");
    const Field document(json, "$");
    std::string type = options.type;
    Arena arena;
    const void *pvStructInfo = nullptr;
    StructType structType;
    try {
        if (wrapped) {
            document.ExpectMembers({"type", "oid", "value"});
            type = TypeOf(options, document);
        } else if (type.empty()) {
            FailInput("name the structure with --type or a \"type\" member");
        }
        structType = ParseStructType(type);
        if (!structType.structure) FailInput("no JSON mapping for structure type " + type);
        const Field value = wrapped ? document.At("value") : document;
        pvStructInfo = structType.structure->fromJson(value, arena);
    } catch (const JsonFieldError &error) {
        FailInput("bad JSON field " + error.path + ": " + error.message);
    }
    std::vector<BYTE> der;
    if (!EncodeObject(structType.Get(), pvStructInfo, &der))
        FailCryptoApi("CryptEncodeObjectEx of " + type);
    WriteOutput(der, options.output, options.pem ? structType.structure->name : "");
}

} // namespace

void AddEncodeCommand(CLI::App &app)
{
    auto options = std::make_shared<EncodeOptions>();
    CLI::App *cmd = app.add_subcommand(
        "encode", "Encode a structure from JSON through CryptEncodeObjectEx");
    cmd->add_option("FILE", options->input, "JSON as decode prints it; - for stdin")
        ->capture_default_str();
    cmd->add_option("--type", options->type,
                    "structure name or OID (default: the document's \"type\")");
    cmd->add_option("-o,--output", options->output, "output file; - for stdout")
        ->capture_default_str();
    cmd->add_flag("--pem", options->pem, "write PEM instead of DER");
    cmd->callback([options] { RunEncode(*options); });
}

} // namespace kvext::tool
