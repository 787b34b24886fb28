# Cross build for 64-bit Windows with the posix-thread mingw-w64 compilers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_AR ${_triple}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_triple}-gcc-ranlib-posix CACHE FILEPATH "")

# Prefix of the cross-built third-party libraries (scripts/deps.sh).
if(NOT QUAVERLY_DEPS)
  if(DEFINED ENV{QUAVERLY_DEPS})
    set(QUAVERLY_DEPS "$ENV{QUAVERLY_DEPS}")
  else()
    set(QUAVERLY_DEPS "$ENV{HOME}/.cache/quaverly/mingw64")
  endif()
endif()
set(QUAVERLY_DEPS "${QUAVERLY_DEPS}" CACHE PATH "Prefix of the cross-built libraries")

set(CMAKE_FIND_ROOT_PATH /usr/${_triple} ${QUAVERLY_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained exe: no libgcc, libstdc++ or winpthread DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

get_filename_component(_qv_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_qv_root}/scripts/wine-run.sh")
