# Cross-compile for 64-bit Windows with clang and lld, against the headers and
# libraries of Debian's mingw-w64 (posix threads flavour). Keeps the sources
# honest beyond one compiler.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
# The mingw-w64 binutils are there already; LLVM's own tools need not be.
set(CMAKE_AR /usr/bin/${TOOLCHAIN_PREFIX}-ar)
set(CMAKE_RANLIB /usr/bin/${TOOLCHAIN_PREFIX}-ranlib)
set(CMAKE_OBJCOPY /usr/bin/${TOOLCHAIN_PREFIX}-objcopy)
set(CMAKE_STRIP /usr/bin/${TOOLCHAIN_PREFIX}-strip)
# clang does not find the posix flavour's C++ headers by itself.
file(GLOB IH_GCC_DIR /usr/lib/gcc/${TOOLCHAIN_PREFIX}/*-posix)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${IH_GCC_DIR}/include/c++ -isystem ${IH_GCC_DIR}/include/c++/${TOOLCHAIN_PREFIX}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${IH_GCC_DIR} -lpthread")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -L${IH_GCC_DIR} -lpthread")
# libstdc++ of the posix flavour needs winpthread; lld finds it wherever it stands.
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
