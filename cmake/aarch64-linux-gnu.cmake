# Cross-compiling the module for 64-bit ARM Linux with Debian's cross
# compiler (g++-aarch64-linux-gnu, which brings its own glibc), against an
# arm64 CPython in a sysroot of the target's packages:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#         -DTOBRIM_ARM64_SYSROOT=<sysroot> -DPython_EXECUTABLE=<sysroot>/usr/bin/python3.14 ...
# (or TOBRIM_ARM64_SYSROOT in the environment).  CMake runs the target's
# interpreter for its version and extension suffix, so arm64 programs must
# run here (qemu, registered with binfmt_misc); the headers come from the
# interpreter's config script in the sysroot
# (aarch64-linux-gnu-python3.14-config).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The toolchain file is read again for each check's project, which sees the
# environment but not the cache.
if(NOT TOBRIM_ARM64_SYSROOT)
  set(TOBRIM_ARM64_SYSROOT "$ENV{TOBRIM_ARM64_SYSROOT}")
endif()
if(NOT TOBRIM_ARM64_SYSROOT)
  message(FATAL_ERROR " the aarch64 build needs a sysroot of arm64 packages with the interpreter's headers: -DTOBRIM_ARM64_SYSROOT=<folder> (scripts/bootstrap makes one)")
endif()
set(ENV{TOBRIM_ARM64_SYSROOT} "${TOBRIM_ARM64_SYSROOT}")

# The interpreter and its config script are looked for in the sysroot;
# libraries and headers in the sysroot and in the places given; programs
# run on this machine are this machine's.
set(CMAKE_FIND_ROOT_PATH "${TOBRIM_ARM64_SYSROOT}")
set(Python_ROOT_DIR "${TOBRIM_ARM64_SYSROOT}/usr")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
