// kvext: puts libkvext to work on the files a user holds, reaching it only through
// CryptoAPI calls, as any host does.
#include "Command.h"

#include <clocale>
#include <cstdlib>
#include <iterator>

namespace kvext::tool {
// One line per command; each is defined in the source named after it.
void AddDecodeCommand(CLI::App &app);
void AddEncodeCommand(CLI::App &app);
void AddCertCommand(CLI::App &app);
void AddAttrsCommand(CLI::App &app);
void AddPubkeyCommand(CLI::App &app);
void AddRegisterCommand(CLI::App &app);
void AddUnregisterCommand(CLI::App &app);
} // namespace kvext::tool

namespace {

constexpr kvext::tool::AddCommand kCommands[] = {
    kvext::tool::AddDecodeCommand,   kvext::tool::AddEncodeCommand,
    kvext::tool::AddCertCommand,     kvext::tool::AddAttrsCommand,
    kvext::tool::AddPubkeyCommand,   kvext::tool::AddRegisterCommand,
    kvext::tool::AddUnregisterCommand,
};

} // namespace

int main(int argc, char **argv)
{
    std::setlocale(LC_ALL, "C.UTF-8");
    // The library's error lines go to stderr beside the tool's own message.
    setenv("KV_TRACE_MASK", "1", 0);
    CLI::App app{"kvext: GOST certificate and message structures through CryptoAPI"};
    app.require_subcommand(1);
    for (kvext::tool::AddCommand add : kCommands)
        if (add) add(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e);
    } catch (const kvext::tool::CommandFailed &failed) {
        return failed.exitCode;
    }
    return 0;
}
