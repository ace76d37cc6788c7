# A second compiler for the Windows code: clang for x86_64-w64-mingw32, with MinGW-w64's
# Windows headers and the libstdc++ headers of MinGW-w64 GCC (POSIX thread model). Linking with
# that libstdc++ is not clean (the linker reports type-name sections of different sizes), so this
# toolchain only compiles: it is used with TAVRO_COMPILE_ONLY, which builds static libraries and
# object files and links no program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR x86_64-w64-mingw32-ar)
set(CMAKE_RANLIB x86_64-w64-mingw32-ranlib)
# The compiler checks compile a library instead of linking a program.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# clang does not find GCC's C++ headers for this target by itself.
file(GLOB mingw_gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/x86_64-w64-mingw32/*-posix)
list(SORT mingw_gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET mingw_gcc_dirs 0 mingw_gcc_dir)
set(mingw_cxx_include ${mingw_gcc_dir}/include/c++)
if(NOT EXISTS ${mingw_cxx_include}/x86_64-w64-mingw32)
    message(FATAL_ERROR "No libstdc++ headers of MinGW-w64 GCC (posix) under ${mingw_cxx_include}")
endif()
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${mingw_cxx_include} -isystem ${mingw_cxx_include}/x86_64-w64-mingw32 -isystem ${mingw_cxx_include}/backward")
