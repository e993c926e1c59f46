# Cross-compiles the Windows program from Linux with mingw-w64. The program itself uses Win32
# threads, events and critical sections directly; the posix thread model is chosen only
# because GoogleTest needs std::mutex, which GCC 12's win32 model lacks. winpthreads is
# linked statically, so plcflash.exe still ships alone.
set(CMAKE_SYSTEM_NAME Windows)
# PLCFLASH_WIN_ARCH=i686 gives the 32-bit build for old service laptops.
if(NOT PLCFLASH_WIN_ARCH)
  set(PLCFLASH_WIN_ARCH x86_64)
endif()
set(CMAKE_SYSTEM_PROCESSOR ${PLCFLASH_WIN_ARCH})
set(TOOLCHAIN_PREFIX ${PLCFLASH_WIN_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Windows test programs run under Wine when ctest starts them.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
