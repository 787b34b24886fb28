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
    soxr soxr libsoxr-dev
    sndfile sndfile libsndfile1-dev)

if(WIN32)
  # The toolchain file (cmake/mingw-w64-x86_64.cmake) says where they are.
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

# Makes a target for one pkg-config module and returns its name in out_var
# ("" if the module is missing). Native: pkg-config's own imported target.
# Windows: a STATIC IMPORTED library that links the targets of the modules its
# .pc requires, plus its Libs.private, so that CMake orders the archives (a
# flat `pkg-config --static` list, merged across targets, can put a library
# after one that needs it).
function(_quaverly_pc_target module out_var)
  string(MAKE_C_IDENTIFIER "${module}" id)
  set(pc QUAVERLY_PC_${id})
  set(${out_var} "" PARENT_SCOPE)
  if(NOT WIN32)
    set(target PkgConfig::${pc})
    if(NOT TARGET ${target})
      pkg_check_modules(${pc} QUIET IMPORTED_TARGET GLOBAL ${module})
      if(NOT ${pc}_FOUND)
        return()
      endif()
    endif()
    set(${out_var} ${target} PARENT_SCOPE)
    return()
  endif()

  set(target quaverly_pc_${id})
  if(NOT TARGET ${target})
    pkg_check_modules(${pc} QUIET ${module})
    if(NOT ${pc}_FOUND)
      return()
    endif()
    set(libs ${${pc}_LINK_LIBRARIES})
    list(POP_FRONT libs location)
    if(NOT IS_ABSOLUTE "${location}" OR NOT EXISTS "${location}")
      message(FATAL_ERROR "${module}.pc: its library '${location}' is not in ${QUAVERLY_DEPS}/lib.\n"
                          "Rebuild the libraries with:  scripts/deps.sh")
    endif()
    cmake_path(NORMAL_PATH location)
    set(includes "")
    foreach(dir IN LISTS ${pc}_INCLUDE_DIRS)
      cmake_path(NORMAL_PATH dir)
      list(APPEND includes "${dir}")
    endforeach()
    add_library(${target} STATIC IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES
      IMPORTED_LOCATION "${location}"
      INTERFACE_INCLUDE_DIRECTORIES "${includes}"
      INTERFACE_COMPILE_OPTIONS "${${pc}_CFLAGS_OTHER}")
    target_link_libraries(${target} INTERFACE ${libs})

    foreach(kind requires requires-private)
      execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --print-${kind} ${module}
                      OUTPUT_VARIABLE requires RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR "pkg-config --print-${kind} ${module} failed")
      endif()
      string(REGEX REPLACE "[ \t]*[<>=!]+[^\n]*" "" requires "${requires}")
      string(REGEX REPLACE "[\n \t]+" ";" requires "${requires}")
      foreach(req IN LISTS requires)
        if(req)
          _quaverly_pc_target(${req} req_target)
          if(NOT req_target)
            message(FATAL_ERROR "${module}.pc needs ${req}.pc, which is not in ${QUAVERLY_DEPS}.\n"
                                "Rebuild the libraries with:  scripts/deps.sh")
          endif()
          target_link_libraries(${target} INTERFACE ${req_target})
        endif()
      endforeach()
    endforeach()

    execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --variable=pcfiledir ${module}
                    OUTPUT_VARIABLE pcdir OUTPUT_STRIP_TRAILING_WHITESPACE)
    file(STRINGS "${pcdir}/${module}.pc" private REGEX "^Libs\\.private:")
    string(REGEX MATCHALL "-l[^ \t]+" private "${private}")
    foreach(lib IN LISTS private)
      string(SUBSTRING "${lib}" 2 -1 lib)
      target_link_libraries(${target} INTERFACE ${lib})
    endforeach()
  endif()
  set(${out_var} ${target} PARENT_SCOPE)
endfunction()

function(_quaverly_find_deps)
  if(WIN32)
    # Never an import library (zlib ships libz.dll.a beside libz.a).
    set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
  endif()
  set(missing "")
  set(packages "")
  set(deps ${_quaverly_deps})
  while(deps)
    list(POP_FRONT deps name module package)
    if(NOT TARGET deps::${name})
      _quaverly_pc_target(${module} target)
      if(target)
        add_library(deps::${name} ALIAS ${target})
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
