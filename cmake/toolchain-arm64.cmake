# arm64 (AArch64) cross build, tests under qemu-aarch64: cmake -DCMAKE_TOOLCHAIN_FILE=this file.
set(KV_CROSS_ARCH arm64)
set(KV_CROSS_TRIPLET aarch64-linux-gnu)
set(KV_CROSS_GNU aarch64-linux-gnu)
set(KV_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/CrossDebian.cmake)
