# What both MinGW-w64 toolchain files share; they set JUXHID_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR and include this. Not a toolchain file of its own.
#
# Debian's posix-threads variant of the compiler: std::thread and std::mutex
# exist there, which GoogleTest and the tests use.
if(NOT JUXHID_MINGW_TRIPLE)
  message(FATAL_ERROR "use toolchain-mingw-i686.cmake or toolchain-mingw-x86_64.cmake")
endif()
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${JUXHID_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${JUXHID_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${JUXHID_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${JUXHID_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${JUXHID_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program links its runtime statically, so that it needs no MinGW DLL
# beside it, under Wine or on a user's machine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test discovery and the tests themselves run under Wine, through the loader
# for this architecture's programs.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../tests/win32/wine-run.sh ${CMAKE_SYSTEM_PROCESSOR})
