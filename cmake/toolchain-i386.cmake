# i386 (32-bit x86) cross build, tests under qemu-i386: cmake -DCMAKE_TOOLCHAIN_FILE=this file.
set(KV_CROSS_ARCH i386)
set(KV_CROSS_TRIPLET i386-linux-gnu)
set(KV_CROSS_GNU i686-linux-gnu)
set(KV_CROSS_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/CrossDebian.cmake)
