# Cross build for another Debian architecture, included by the toolchain files beside it, which
# set KV_CROSS_ARCH (Debian's name), KV_CROSS_TRIPLET (the multiarch triplet), KV_CROSS_GNU (the
# cross compilers' prefix) and KV_CROSS_QEMU. scripts/setup-cross.sh installs the compilers and
# unpacks the architecture's libraries into KV_CROSS_ROOT; the tests run under qemu-user with
# that prefix as their root, where the C and C++ runtime, OpenSSL and its GOST engine lie on
# their usual paths.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${KV_CROSS_GNU}-gcc)
set(CMAKE_CXX_COMPILER ${KV_CROSS_GNU}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${KV_CROSS_TRIPLET})
if(NOT KV_CROSS_ROOT)
    set(KV_CROSS_ROOT /opt/kvext-cross/${KV_CROSS_ARCH})
endif()
set(CMAKE_FIND_ROOT_PATH ${KV_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The architecture's own OpenSSL configuration headers, and its libraries' dependencies.
set(CMAKE_C_FLAGS_INIT "-isystem ${KV_CROSS_ROOT}/usr/include/${KV_CROSS_TRIPLET}")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${KV_CROSS_ROOT}/usr/include/${KV_CROSS_TRIPLET}")
foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT
        "-Wl,-rpath-link,${KV_CROSS_ROOT}/usr/lib/${KV_CROSS_TRIPLET}")
endforeach()
set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_CROSS_QEMU} -L ${KV_CROSS_ROOT})
