# The second compiler: Debian's clang and lld aimed at i686-w64-mingw32, over
# the same mingw-w64 headers, import libraries, resource compiler and GCC
# static runtime (libstdc++, libgcc, winpthreads) as cmake/mingw-i686.cmake.
# GCC stays the release's compiler; this build shows the code builds and
# works with another compiler and linker too.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QV_MINGW i686-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${QV_MINGW})
set(CMAKE_CXX_COMPILER_TARGET ${QV_MINGW})
set(CMAKE_RC_COMPILER ${QV_MINGW}-windres)
set(CMAKE_AR ${QV_MINGW}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QV_MINGW}-ranlib CACHE FILEPATH "")
# The signature tests read section headers with binutils' objdump.
set(CMAKE_OBJDUMP ${QV_MINGW}-objdump CACHE FILEPATH "")
# The mingw-w64 headers and libraries.
set(CMAKE_SYSROOT /usr/${QV_MINGW})

# GCC's folder (libstdc++'s headers, libgcc, crtbegin.o): clang cannot read
# Debian's folder name "12-posix" as a version, so GCC names it. The -posix
# runtime is the one with std::mutex (GoogleTest needs it).
execute_process(COMMAND ${QV_MINGW}-gcc-posix -print-libgcc-file-name
                OUTPUT_VARIABLE qv_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE qv_gcc_result)
if(NOT qv_gcc_result EQUAL 0 OR NOT EXISTS "${qv_libgcc}")
  message(FATAL_ERROR "cannot find the GCC runtime of ${QV_MINGW}-gcc-posix (g++-mingw-w64-i686 is missing?)")
endif()
get_filename_component(QV_GCC_DIR "${qv_libgcc}" DIRECTORY)
set(CMAKE_CXX_FLAGS_INIT "-stdlib++-isystem ${QV_GCC_DIR}/include/c++ -stdlib++-isystem ${QV_GCC_DIR}/include/c++/${QV_MINGW}")
string(APPEND CMAKE_CXX_FLAGS_INIT " -stdlib++-isystem ${QV_GCC_DIR}/include/c++/backward")
# lld links; -B and -L find GCC's start files and static runtime, and the
# posix runtime needs winpthreads.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -B${QV_GCC_DIR} -L${QV_GCC_DIR} -pthread")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${QV_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests run under Wine through CTest.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
