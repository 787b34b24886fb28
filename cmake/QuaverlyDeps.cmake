# Imported targets deps::<name> for the third-party audio libraries, found with
# pkg-config: Debian's -dev packages for the native build, and for Windows the
# static prefix that scripts/deps.sh cross-builds (${QUAVERLY_DEPS}).
include_guard(GLOBAL)

# target name, pkg-config module, Debian package (native)
set(_quaverly_deps
    ogg ogg libogg-dev
    vorbis vorbis libvorbis-dev
    vorbisenc vorbisenc libvorbis-dev
    vorbisfile vorbisfile libvorbis-dev
    mpg123 libmpg123 libmpg123-dev
    openmpt libopenmpt libopenmpt-dev
    flac flac libflac-dev
    opus opus libopus-dev
    opusfile opusfile libopusfile-dev
    soxr soxr libsoxr-dev)

if(WIN32)
  if(NOT QUAVERLY_DEPS)
    if(DEFINED ENV{QUAVERLY_DEPS})
      set(QUAVERLY_DEPS "$ENV{QUAVERLY_DEPS}")
    else()
      set(QUAVERLY_DEPS "$ENV{HOME}/.cache/quaverly/mingw64")
    endif()
    set(QUAVERLY_DEPS "${QUAVERLY_DEPS}" CACHE PATH "Prefix of the cross-built libraries")
  endif()
  if(NOT EXISTS "${QUAVERLY_DEPS}/lib/pkgconfig")
    message(FATAL_ERROR
      "The cross-built libraries are missing: no ${QUAVERLY_DEPS}/lib/pkgconfig.\n"
      "Build them with:  scripts/deps.sh\n"
      "(or point QUAVERLY_DEPS at a prefix that scripts/deps.sh made).")
  endif()
  # Only our prefix may answer; host .pc files must never leak in.
  set(ENV{PKG_CONFIG_LIBDIR} "${QUAVERLY_DEPS}/lib/pkgconfig")
  unset(ENV{PKG_CONFIG_PATH})
  unset(ENV{PKG_CONFIG_SYSROOT_DIR})
  set(PKG_CONFIG_USE_CMAKE_PREFIX_PATH OFF)
  # The .pc files give paths inside the prefix; find_library must see them.
  if(NOT "${QUAVERLY_DEPS}" IN_LIST CMAKE_FIND_ROOT_PATH)
    list(APPEND CMAKE_FIND_ROOT_PATH "${QUAVERLY_DEPS}")
  endif()
endif()

find_package(PkgConfig REQUIRED)

function(_quaverly_find_deps)
  if(WIN32)
    # Static link: take Libs.private and Requires.private too, and never an
    # import library (zlib ships libz.dll.a beside libz.a).
    set(PKG_CONFIG_ARGN --static)
    set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
  endif()
  set(missing "")
  set(packages "")
  set(deps ${_quaverly_deps})
  while(deps)
    list(POP_FRONT deps name module package)
    if(NOT TARGET deps::${name})
      pkg_check_modules(QUAVERLY_PC_${name} QUIET IMPORTED_TARGET GLOBAL ${module})
      if(QUAVERLY_PC_${name}_FOUND)
        add_library(deps::${name} ALIAS PkgConfig::QUAVERLY_PC_${name})
      else()
        list(APPEND missing ${module})
        list(APPEND packages ${package})
      endif()
    endif()
  endwhile()
  if(missing)
    list(REMOVE_DUPLICATES packages)
    list(JOIN missing ", " missing)
    list(JOIN packages " " packages)
    if(WIN32)
      message(FATAL_ERROR
        "Cross-built libraries not found in ${QUAVERLY_DEPS}: ${missing}.\n"
        "Build them with:  scripts/deps.sh")
    else()
      message(FATAL_ERROR
        "Libraries not found by pkg-config: ${missing} (Debian: ${packages}).\n"
        "Install them with:  scripts/deps.sh --packages-only")
    endif()
  endif()
endfunction()

_quaverly_find_deps()
