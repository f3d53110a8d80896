// kvhost [path-to-libkvext.so.4]: runs every demo against the library.
#include "Host.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <filesystem>

namespace {

// An installed host finds its samples beside it; one run from the build tree uses the
// source tree's.
void FindInstalledSamples()
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return;
    const auto installed = self.parent_path().parent_path() / "share" / "kvext" / "samples";
    if (std::filesystem::is_directory(installed, error)) kvhost::SetSamplesDirectory(installed);
}

} // namespace

int main(int argc, char **argv)
{
    std::setlocale(LC_ALL, "C.UTF-8"); // decoded wide strings are printed as UTF-8
    FindInstalledSamples();
    const char *path = argc > 1 ? argv[1] : "libkvext.so.4";
    kvhost::Library lib(path);
    if (!lib.loaded()) return 1;
    std::vector<kvhost::Demo> demos = kvhost::Demos();
    std::sort(demos.begin(), demos.end(), [](const kvhost::Demo &a, const kvhost::Demo &b) {
        return std::string(a.name) < b.name;
    });
    for (const kvhost::Demo &demo : demos) {
        std::printf("== %s\n", demo.name);
        demo.run(lib);
    }
    std::printf("%zu demos run\n", demos.size());
    return 0;
}
