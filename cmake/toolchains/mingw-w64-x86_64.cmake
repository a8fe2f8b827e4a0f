# Cross-builds the Windows programs on Debian with mingw-w64 (package g++-mingw-w64-x86-64-posix).
# The posix thread model is the one whose libstdc++ has std::mutex and std::thread; everything is
# linked statically so that the .exe files run under Wine or on Windows without mingw's DLLs.
#
#   cmake -S . -B build-windows -G Ninja -DVANTOR_BUILD_GUI=OFF \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VANTOR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VANTOR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANTOR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VANTOR_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VANTOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the test programs through Wine when nothing else is said.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(VANTOR_WINE NAMES wine wine64)
  if(VANTOR_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTOR_WINE})
  endif()
endif()
