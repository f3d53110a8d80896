// kvhost [path-to-libkvext.so.4]: runs every codec demo against the library.
#include "Host.h"

#include <algorithm>
#include <clocale>
#include <cstdio>

int main(int argc, char **argv)
{
    std::setlocale(LC_ALL, "C.UTF-8"); // decoded wide strings are printed as UTF-8
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
    std::printf("%zu codec demos run\n", demos.size());
    return 0;
}
