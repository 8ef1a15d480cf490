# Dart Sass, the second engine: the npm package sass-embedded-linux-x64 holds its runtime
# (dart), the compiler (sass.snapshot) and their license texts (LICENSE).
#
# Every configure makes sure the package's tarball is in the cache folder, fetching it with
# `npm pack` when it is not there, and checks it against the integrity pinned here. The cache
# lies outside the build tree, so other build folders and later configures reuse the tarball:
#   $VANTOR_DART_SASS_CACHE, else $XDG_CACHE_HOME/vantor, else ~/.cache/vantor.
# The three files are unpacked into <build>/_deps/dart-sass/ and the build copies them into
# dart-sass/ beside the library and its worker (<build>/lib/dart-sass/); packaging/ installs them
# beside the installed worker.
#
# Sets VANTOR_HAVE_DART_SASS (ON or OFF), VANTOR_DART_SASS_VERSION, VANTOR_DART_SASS_STAGE (the
# folder of the unpacked files) and, with Dart Sass, VANTOR_DART_SASS_TARBALL (the cached tarball).
# Defines Vantor::DartSassFacts, which gives whatever links it VANTOR_HAVE_DART_SASS=0/1 and
# VANTOR_REQUIRE_DART_SASS=0/1.

option(VANTOR_REQUIRE_DART_SASS
  "Fail to configure when the Dart Sass runtime cannot be fetched or does not match its pinned integrity" OFF)

set(VANTOR_DART_SASS_VERSION 1.108.2)
set(_dart_sass_package sass-embedded-linux-x64)
# `npm view sass-embedded-linux-x64@1.108.2 dist.integrity`
set(_dart_sass_integrity
  "sha512-9SNMGIYzfdMAflPlNLQro9gIWbrbrSibwffatFaEmjMPBHqy2gNwg7VuzDRHBygbSqsrsqfhokYGchCyzCZI9Q==")
set(_dart_sass_files dart sass.snapshot LICENSE)
# npm retries a failed request once after 5 s, not twice with backoffs of up to a minute, so an
# unreachable registry costs a configure seconds; the timeout bounds a stalled transfer.
set(_dart_sass_npm_retries --fetch-retries=1 --fetch-retry-mintimeout=5000 --fetch-retry-maxtimeout=10000)
set(_dart_sass_download_timeout 300)

# _vantor_base64_to_hex(TEXT OUT): the bytes that base64 TEXT encodes, as lowercase hex digits;
# OUT is empty when TEXT is not base64.
function(_vantor_base64_to_hex text out)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  string(REGEX REPLACE "=?=$" "" digits "${text}")
  string(LENGTH "${digits}" length)
  set(hex "")
  set(bits 0)
  set(pending 0)
  if(length GREATER 0)
    math(EXPR last "${length} - 1")
    foreach(i RANGE ${last})
      string(SUBSTRING "${digits}" ${i} 1 digit)
      string(FIND "${alphabet}" "${digit}" value)
      if(value LESS 0)
        set(${out} "" PARENT_SCOPE)
        return()
      endif()
      math(EXPR bits "(${bits} << 6) | ${value}")
      math(EXPR pending "${pending} + 6")
      if(pending GREATER_EQUAL 8)
        math(EXPR pending "${pending} - 8")
        math(EXPR byte "(${bits} >> ${pending}) & 255")
        math(EXPR bits "${bits} & ((1 << ${pending}) - 1)")
        math(EXPR byte_hex "${byte} + 256" OUTPUT_FORMAT HEXADECIMAL)
        string(SUBSTRING "${byte_hex}" 3 2 byte_hex)
        string(APPEND hex "${byte_hex}")
      endif()
    endforeach()
  endif()
  string(TOLOWER "${hex}" hex)
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# _vantor_dart_sass_matches(FILE OUT): OUT is TRUE when FILE's SHA-512 is the pinned integrity's.
function(_vantor_dart_sass_matches file out)
  string(REGEX REPLACE "^sha512-" "" pinned "${_dart_sass_integrity}")
  _vantor_base64_to_hex("${pinned}" pinned_hex)
  file(SHA512 "${file}" actual_hex)
  string(TOLOWER "${actual_hex}" actual_hex)
  if(pinned_hex AND actual_hex STREQUAL pinned_hex)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# _vantor_dart_sass_cache(DIR REASON): the cache folder, or an empty DIR and why in REASON.
function(_vantor_dart_sass_cache dir reason)
  set(${dir} "" PARENT_SCOPE)
  if(NOT "$ENV{VANTOR_DART_SASS_CACHE}" STREQUAL "")
    set(cache "$ENV{VANTOR_DART_SASS_CACHE}")
    if(NOT IS_ABSOLUTE "${cache}")
      set(${reason} "VANTOR_DART_SASS_CACHE must be an absolute path, not '${cache}'" PARENT_SCOPE)
      return()
    endif()
  elseif(IS_ABSOLUTE "$ENV{XDG_CACHE_HOME}")
    set(cache "$ENV{XDG_CACHE_HOME}/vantor")
  elseif(IS_ABSOLUTE "$ENV{HOME}")
    set(cache "$ENV{HOME}/.cache/vantor")
  else()
    set(${reason} "no cache folder: set VANTOR_DART_SASS_CACHE, XDG_CACHE_HOME or HOME" PARENT_SCOPE)
    return()
  endif()
  cmake_path(NORMAL_PATH cache)
  string(REGEX REPLACE "(.)/$" "\\1" cache "${cache}")
  set(${dir} "${cache}" PARENT_SCOPE)
endfunction()

# _vantor_dart_sass_download(CACHE TARBALL REASON): fetches the package into the folder CACHE with
# npm and moves it to TARBALL once it matches the pinned integrity; otherwise sets REASON. The
# download lands in a folder of its own first, so neither a broken transfer nor a configure
# running at the same time ever leaves a partial tarball under the name the cache is read by.
function(_vantor_dart_sass_download cache tarball reason)
  # Only the PATH the configure runs with, not the system folders CMake would search too.
  find_program(npm NAMES npm NO_CACHE NO_DEFAULT_PATH PATHS ENV PATH)
  if(NOT npm)
    set(${reason} "npm, which fetches it, is not on PATH" PARENT_SCOPE)
    return()
  endif()
  string(RANDOM LENGTH 8 suffix)
  set(partial "${cache}/.download-${suffix}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E make_directory "${partial}"
    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
  if(failed)
    set(${reason} "cannot create the cache folder ${cache}" PARENT_SCOPE)
    return()
  endif()
  set(package_at_version ${_dart_sass_package}@${VANTOR_DART_SASS_VERSION})
  message(STATUS "Dart Sass ${VANTOR_DART_SASS_VERSION}: downloading ${package_at_version} with npm into ${cache} (once) ...")
  set(log "${PROJECT_BINARY_DIR}/dart-sass-download.log")
  execute_process(
    COMMAND "${npm}" pack "${package_at_version}" --pack-destination "${partial}" --ignore-scripts --loglevel=error
      ${_dart_sass_npm_retries}
    WORKING_DIRECTORY "${partial}"
    TIMEOUT ${_dart_sass_download_timeout}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  file(WRITE "${log}" "${npm} pack ${package_at_version}\n${output}")
  get_filename_component(name "${tarball}" NAME)
  if(NOT status EQUAL 0)
    file(REMOVE_RECURSE "${partial}")
    # npm's first error line that says more than a code; its output is in the log.
    string(REGEX MATCHALL "npm (error|ERR!) [^\n]*" lines "${output}")
    list(FILTER lines EXCLUDE REGEX "^npm (error|ERR!) (code|errno|syscall) ")
    list(FILTER lines EXCLUDE REGEX "complete log of this run")
    set(why "")
    if(lines)
      list(GET lines 0 why)
      set(why ": ${why}")
    endif()
    set(${reason} "`npm pack ${package_at_version}` failed (${status})${why} (see ${log})" PARENT_SCOPE)
    return()
  endif()
  if(NOT EXISTS "${partial}/${name}")
    file(REMOVE_RECURSE "${partial}")
    set(${reason} "`npm pack ${package_at_version}` wrote no ${name} (see ${log})" PARENT_SCOPE)
    return()
  endif()
  _vantor_dart_sass_matches("${partial}/${name}" matches)
  if(NOT matches)
    file(REMOVE_RECURSE "${partial}")
    set(${reason} "the downloaded ${name} does not match the pinned integrity ${_dart_sass_integrity}" PARENT_SCOPE)
    return()
  endif()
  file(RENAME "${partial}/${name}" "${tarball}" RESULT failed)
  file(REMOVE_RECURSE "${partial}")
  if(failed)
    set(${reason} "cannot move the download to ${tarball}: ${failed}" PARENT_SCOPE)
    return()
  endif()
  set(${reason} "" PARENT_SCOPE)
endfunction()

# _vantor_dart_sass_unpack(TARBALL STAGE REASON): unpacks the three files into STAGE unless they
# are all there from the same tarball already; sets REASON when that fails.
function(_vantor_dart_sass_unpack tarball stage reason)
  set(stamp "${stage}/.unpacked-from")
  set(stamp_text "${tarball} ${_dart_sass_integrity}")
  set(unpacked_from "")
  if(EXISTS "${stamp}")
    file(READ "${stamp}" unpacked_from)
  endif()
  foreach(f IN LISTS _dart_sass_files)
    if(NOT EXISTS "${stage}/${f}")
      set(unpacked_from "")
    endif()
  endforeach()
  if(unpacked_from STREQUAL stamp_text)
    set(${reason} "" PARENT_SCOPE)
    return()
  endif()
  file(REMOVE_RECURSE "${stage}" "${stage}.unpack")
  file(MAKE_DIRECTORY "${stage}.unpack")
  set(members "")
  foreach(f IN LISTS _dart_sass_files)
    list(APPEND members package/dart-sass/src/${f})
  endforeach()
  # Fresh times (the tarball's are from 1985), so the build copies them again beside the library.
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xzf "${tarball}" --touch -- ${members}
    WORKING_DIRECTORY "${stage}.unpack"
    RESULT_VARIABLE failed
    OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT failed)
    file(RENAME "${stage}.unpack/package/dart-sass/src" "${stage}" RESULT failed)
  endif()
  file(REMOVE_RECURSE "${stage}.unpack")
  foreach(f IN LISTS _dart_sass_files)
    if(NOT failed AND NOT EXISTS "${stage}/${f}")
      set(failed "it has no package/dart-sass/src/${f}")
    endif()
  endforeach()
  if(failed)
    string(STRIP "${output}" output)
    string(REPLACE "\n" " " output "${output}")
    set(${reason} "cannot unpack ${tarball}: ${failed} ${output}" PARENT_SCOPE)
    return()
  endif()
  file(WRITE "${stamp}" "${stamp_text}")
  set(${reason} "" PARENT_SCOPE)
endfunction()

set(VANTOR_DART_SASS_STAGE "${PROJECT_BINARY_DIR}/_deps/dart-sass")
set(_dart_sass_reason "")
_vantor_dart_sass_cache(_dart_sass_cache _dart_sass_reason)
if(NOT _dart_sass_reason)
  set(_dart_sass_tarball "${_dart_sass_cache}/${_dart_sass_package}-${VANTOR_DART_SASS_VERSION}.tgz")
  if(EXISTS "${_dart_sass_tarball}")
    _vantor_dart_sass_matches("${_dart_sass_tarball}" _dart_sass_matches)
    if(NOT _dart_sass_matches)
      set(_dart_sass_reason
        "${_dart_sass_tarball} does not match the pinned integrity ${_dart_sass_integrity}; delete it to download it again")
    endif()
  else()
    _vantor_dart_sass_download("${_dart_sass_cache}" "${_dart_sass_tarball}" _dart_sass_reason)
  endif()
endif()
if(NOT _dart_sass_reason)
  # A changed or removed tarball configures again at the next build.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_dart_sass_tarball}")
  _vantor_dart_sass_unpack("${_dart_sass_tarball}" "${VANTOR_DART_SASS_STAGE}" _dart_sass_reason)
endif()

if(_dart_sass_reason)
  if(VANTOR_REQUIRE_DART_SASS)
    message(FATAL_ERROR "Dart Sass ${VANTOR_DART_SASS_VERSION} is required (VANTOR_REQUIRE_DART_SASS is ON), "
      "but ${_dart_sass_reason}.")
  endif()
  message(NOTICE "Dart Sass ${VANTOR_DART_SASS_VERSION} not available, building without it: ${_dart_sass_reason}")
  set(VANTOR_HAVE_DART_SASS OFF)
  file(REMOVE_RECURSE "${VANTOR_DART_SASS_STAGE}")
else()
  message(STATUS "Dart Sass ${VANTOR_DART_SASS_VERSION}: ${_dart_sass_tarball}")
  set(VANTOR_HAVE_DART_SASS ON)
  set(VANTOR_DART_SASS_TARBALL "${_dart_sass_tarball}")
endif()

add_library(vantor_dart_sass_facts INTERFACE)
target_compile_definitions(vantor_dart_sass_facts INTERFACE
  VANTOR_HAVE_DART_SASS=$<BOOL:${VANTOR_HAVE_DART_SASS}>
  VANTOR_REQUIRE_DART_SASS=$<BOOL:${VANTOR_REQUIRE_DART_SASS}>)
add_library(Vantor::DartSassFacts ALIAS vantor_dart_sass_facts)

# At the end of the top-level CMakeLists.txt, once the library exists: the build copies the
# unpacked files into dart-sass/ beside it, again whenever they change, before the library is
# built. Without Dart Sass, a copy left by an earlier configure is removed.
function(_vantor_place_dart_sass)
  get_target_property(libdir Vantor.Compiler LIBRARY_OUTPUT_DIRECTORY)
  if(NOT libdir)
    message(FATAL_ERROR "Vantor.Compiler has no LIBRARY_OUTPUT_DIRECTORY to put dart-sass/ in")
  endif()
  set(dest "${libdir}/dart-sass")
  if(NOT VANTOR_HAVE_DART_SASS)
    file(REMOVE_RECURSE "${dest}")
    return()
  endif()
  set(inputs "")
  set(outputs "")
  foreach(f IN LISTS _dart_sass_files)
    list(APPEND inputs "${VANTOR_DART_SASS_STAGE}/${f}")
    list(APPEND outputs "${dest}/${f}")
  endforeach()
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dest}"
    COMMAND ${CMAKE_COMMAND} -E copy ${inputs} "${dest}"
    DEPENDS ${inputs}
    COMMENT "Placing Dart Sass ${VANTOR_DART_SASS_VERSION} in ${dest}"
    VERBATIM)
  add_custom_target(vantor-dart-sass-files DEPENDS ${outputs})
  add_dependencies(Vantor.Compiler vantor-dart-sass-files)
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL _vantor_place_dart_sass)
