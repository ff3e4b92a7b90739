# Cross-building for 64-bit Windows with Debian's mingw-w64 (posix threads, so that std::thread
# and Qt's own threads use the same runtime) against a Windows Qt SDK in QUORVO_WIN_SDK.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QUORVO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORVO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVO_MINGW}-windres)
set(CMAKE_AR /usr/bin/${QUORVO_MINGW}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${QUORVO_MINGW}-ranlib CACHE FILEPATH "")

# The SDK's own CMake files find each other relative to wherever it was unpacked. The compiler
# checks read this file again in a project of their own, so the path travels with them.
if(NOT QUORVO_WIN_SDK)
    set(QUORVO_WIN_SDK $ENV{QUORVO_WIN_SDK})
endif()
if(NOT QUORVO_WIN_SDK)
    message(FATAL_ERROR "Set QUORVO_WIN_SDK to the folder of the Windows Qt SDK")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVO_WIN_SDK)
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVO_MINGW} ${QUORVO_WIN_SDK})
set(CMAKE_PREFIX_PATH ${QUORVO_WIN_SDK})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
