# Cross-build for 64-bit Windows with the MinGW-w64 compilers of the "posix" thread model (the
# other model has no std::thread or std::mutex). Everything is linked statically, so the
# executables and the DLL need no runtime DLL beside them; the static flags live here because a
# CMAKE_EXE_LINKER_FLAGS given on the command line would replace them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ombrix_mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ombrix_mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ombrix_mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${ombrix_mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ombrix_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
