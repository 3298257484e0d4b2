# Finding the raylib 6 shared library the module links and bundles.
#
# tobrim_find_raylib() sets, as normal variables of the caller:
#   RAYLIB_INCLUDE_DIR  the folder holding raylib.h
#   RAYLIB_LIBRARY      the library the build links
#   RAYLIB_REAL         the file that library resolves to
#   RAYLIB_SONAME       its SONAME: what the module's NEEDED entry names and
#                       so the file name it is bundled under in tobrim.libs/
#
# Nothing is cached: the searches use NO_CACHE and the environment variable
# is read on each configure, so pointing a configured build folder at another
# raylib (or retrying after a failure) needs no cleaning.

# The raylib in the bootstrap's cache, as scripts/bootstrap computes it: the
# musl prefix's for an interpreter built against musl.
function(_tobrim_bootstrap_raylib out)
  if(NOT "$ENV{TOBRIM_CACHE}" STREQUAL "")
    set(cache "$ENV{TOBRIM_CACHE}")
  elseif(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(cache "$ENV{XDG_CACHE_HOME}/tobrim")
  else()
    set(cache "$ENV{HOME}/.cache/tobrim")
  endif()
  if(Python_SOABI MATCHES "-linux-musl")
    set(${out} "${cache}/musl/raylib" PARENT_SCOPE)
  else()
    set(${out} "${cache}/raylib" PARENT_SCOPE)
  endif()
endfunction()

# raylib.h and the shared library under one prefix; empty results when absent.
function(_tobrim_raylib_in_prefix prefix inc_out lib_out)
  unset(inc)
  unset(lib)
  find_path(inc raylib.h PATHS "${prefix}/include" NO_DEFAULT_PATH NO_CACHE)
  find_library(lib NAMES libraylib.so raylib PATHS "${prefix}/lib" "${prefix}/lib64"
               NO_DEFAULT_PATH NO_CACHE)
  set(${inc_out} "${inc}" PARENT_SCOPE)
  set(${lib_out} "${lib}" PARENT_SCOPE)
endfunction()

# raylib 6.x as pkg-config describes it; empty results when it has none.
function(_tobrim_raylib_from_pkg_config inc_out lib_out)
  set(${inc_out} "" PARENT_SCOPE)
  set(${lib_out} "" PARENT_SCOPE)
  find_program(TOBRIM_PKG_CONFIG NAMES pkg-config pkgconf)
  if(NOT TOBRIM_PKG_CONFIG)
    return()
  endif()
  execute_process(COMMAND "${TOBRIM_PKG_CONFIG}" --modversion raylib
                  OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE rc ERROR_QUIET)
  if(NOT rc EQUAL 0)
    return()
  endif()
  if(NOT version MATCHES "^6\\.")
    message(STATUS "pkg-config finds raylib ${version}, not 6.x: not used")
    return()
  endif()
  execute_process(COMMAND "${TOBRIM_PKG_CONFIG}" --cflags-only-I --libs-only-L raylib
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  execute_process(COMMAND "${TOBRIM_PKG_CONFIG}" --variable=libdir raylib
                  OUTPUT_VARIABLE libdir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  execute_process(COMMAND "${TOBRIM_PKG_CONFIG}" --variable=includedir raylib
                  OUTPUT_VARIABLE includedir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(incdirs "${includedir}")
  set(libdirs "${libdir}")
  foreach(f IN LISTS flags)
    if(f MATCHES "^-I(.+)")
      list(APPEND incdirs "${CMAKE_MATCH_1}")
    elseif(f MATCHES "^-L(.+)")
      list(APPEND libdirs "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  unset(inc)
  unset(lib)
  find_path(inc raylib.h HINTS ${incdirs} NO_CACHE)
  find_library(lib NAMES libraylib.so raylib HINTS ${libdirs} NO_CACHE)
  if(inc AND lib)
    message(STATUS "raylib ${version} found by pkg-config")
    set(${inc_out} "${inc}" PARENT_SCOPE)
    set(${lib_out} "${lib}" PARENT_SCOPE)
  endif()
endfunction()

# The SONAME of a shared library, read from its dynamic section.
function(_tobrim_soname lib out)
  if(CMAKE_READELF)
    set(TOBRIM_READELF "${CMAKE_READELF}")
  else()
    find_program(TOBRIM_READELF readelf)
  endif()
  if(NOT TOBRIM_READELF)
    message(FATAL_ERROR " readelf (binutils) is needed to read the SONAME of ${lib}")
  endif()
  execute_process(COMMAND "${TOBRIM_READELF}" -d "${lib}"
                  OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR " ${lib} is not a shared library raylib can be bundled from: ${err}")
  endif()
  if(NOT dynamic MATCHES "\\(SONAME\\)[^\n]*\\[([^]\n]+)\\]")
    message(FATAL_ERROR " ${lib} has no SONAME; the module needs a raylib shared library that names itself (libraylib.so.<version>)")
  endif()
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

function(tobrim_find_raylib)
  # Build folders configured before the searches stopped caching: a stale
  # (possibly empty) entry must not hide the environment or a new prefix.
  foreach(stale IN ITEMS RAYLIB_INCLUDE_DIR RAYLIB_LIBRARY RAYLIB_PC_FOUND)
    unset(${stale} CACHE)
  endforeach()
  if(DEFINED CACHE{TOBRIM_RAYLIB_DIR} AND "$CACHE{TOBRIM_RAYLIB_DIR}" STREQUAL "")
    unset(TOBRIM_RAYLIB_DIR CACHE)
  endif()

  _tobrim_bootstrap_raylib(boot)
  set(hint "point the build at a raylib 6 install prefix (include/raylib.h, lib/libraylib.so) with -DTOBRIM_RAYLIB_DIR=<prefix> or the environment variable TOBRIM_RAYLIB_DIR, or make `pkg-config raylib` find it; scripts/bootstrap builds one into ${boot}, where the build finds it")

  set(dir "${TOBRIM_RAYLIB_DIR}")
  set(origin "-DTOBRIM_RAYLIB_DIR")
  if(dir STREQUAL "")
    set(dir "$ENV{TOBRIM_RAYLIB_DIR}")
    set(origin "TOBRIM_RAYLIB_DIR (environment)")
  endif()

  set(inc "")
  set(lib "")
  if(NOT dir STREQUAL "")
    # A prefix named explicitly must hold raylib: falling back elsewhere
    # would build against something the user did not ask for.
    _tobrim_raylib_in_prefix("${dir}" inc lib)
    if(NOT inc OR NOT lib)
      message(FATAL_ERROR " ${origin}=${dir} has no include/raylib.h and lib/libraylib.so: ${hint}")
    endif()
    message(STATUS "raylib from ${origin}: ${dir}")
  else()
    _tobrim_raylib_from_pkg_config(inc lib)
    if(NOT inc OR NOT lib)
      _tobrim_raylib_in_prefix("${boot}" inc lib)
      if(inc AND lib)
        message(STATUS "raylib from scripts/bootstrap's cache: ${boot}")
      endif()
    endif()
  endif()
  if(NOT inc OR NOT lib)
    message(FATAL_ERROR " raylib 6 not found: ${hint}")
  endif()

  get_filename_component(real "${lib}" REALPATH)
  _tobrim_soname("${real}" soname)
  message(STATUS "raylib: ${real} (SONAME ${soname})")
  set(RAYLIB_INCLUDE_DIR "${inc}" PARENT_SCOPE)
  set(RAYLIB_LIBRARY "${lib}" PARENT_SCOPE)
  set(RAYLIB_REAL "${real}" PARENT_SCOPE)
  set(RAYLIB_SONAME "${soname}" PARENT_SCOPE)
endfunction()
