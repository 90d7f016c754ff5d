# Cross build for a Debian architecture with Debian's cross compilers and multiarch libraries:
#   cmake -DZT4_CROSS_TRIPLE=aarch64-linux-gnu -DCMAKE_TOOLCHAIN_FILE=cmake/cross.cmake ...
# (scripts/cross sets both). Test binaries run under qemu-user through the emulator below.
set(CMAKE_SYSTEM_NAME Linux)
# try_compile projects read this file again: they get the triple too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZT4_CROSS_TRIPLE)
if(NOT ZT4_CROSS_TRIPLE)
  message(FATAL_ERROR "cross.cmake: set ZT4_CROSS_TRIPLE (aarch64-linux-gnu or arm-linux-gnueabihf)")
endif()
if(ZT4_CROSS_TRIPLE STREQUAL "aarch64-linux-gnu")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(qemu qemu-aarch64)
elseif(ZT4_CROSS_TRIPLE STREQUAL "arm-linux-gnueabihf")
  set(CMAKE_SYSTEM_PROCESSOR armv7l)
  set(qemu qemu-arm)
else()
  message(FATAL_ERROR "cross.cmake: unknown triple ${ZT4_CROSS_TRIPLE}")
endif()
set(CMAKE_C_COMPILER ${ZT4_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ZT4_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ZT4_CROSS_TRIPLE})
# Multiarch: the target's libraries live in /usr/lib/TRIPLE beside the host's, its pkg-config
# files in /usr/lib/TRIPLE/pkgconfig.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${ZT4_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# The board's C library comes from its multiarch package (libc6:ARCH, which the development
# packages bring), found by qemu through /lib/ld-linux-*.so like any program. qemu's -L with the
# cross compiler's own copy in /usr/TRIPLE is not used: under qemu 7.2 it hangs threaded programs.
set(CMAKE_CROSSCOMPILING_EMULATOR ${qemu})
