# Checks who includes what, and that system code stays WCHAR-neutral.
#   cmake -DROOT=<source tree> -P check_layout.cmake
# Prints "<file>:<line>: <reason>" for each breach and fails when there is one.
#
# - A platform layer (base < io < ui < app) includes no header of a layer above it.
# - A layer's internal/ headers are included only from its own folder, its tests in
#   tests/platform/<layer>/, and the few tests named below that link platform_<layer>_testing.
# - System code (serial/ probe/ config/ ui/ lister/) includes no internal/, detail/, linux/ or
#   windows/ platform header and no operating-system header: only the C++ library and plain C
#   headers.
# - System code and the framework (platform/app/) spell wide text as WCHAR and TEXT(), never
#   char16_t, u"", u'' or std::u16string, so that they build where WCHAR is wchar_t, nor
#   wchar_t, L"", L'' or std::wstring, so that they build where it is char16_t.
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P check_layout.cmake")
endif()

set(layers base io ui app)
set(system_dirs serial probe config ui lister)
set(internal_users tests/reliability/registry_crash_test.cpp tests/fuzz/registry_format_fuzz.cpp
    tests/lister/lister_resources_test.cpp tests/ui/resources_test.cpp
    tests/ui/windows/dialogs_test.cpp)
set(c_headers assert ctype errno float inttypes limits math stdarg stdbool stddef stdint stdio
    stdlib string time uchar wchar wctype)
list(TRANSFORM c_headers APPEND ".h")

set(breaches 0)
macro(breach reason)
  message("${rel}:${number}: ${reason}")
  math(EXPR breaches "${breaches} + 1")
endmacro()

# The layer index of platform/<layer>/..., or -1.
function(layer_of path out)
  set(index -1)
  if("${path}" MATCHES "^platform/([a-z]+)/")
    list(FIND layers "${CMAKE_MATCH_1}" index)
  endif()
  set(${out} ${index} PARENT_SCOPE)
endfunction()

macro(check_include kind path)
  layer_of("${path}" included)
  if(own_layer GREATER -1 AND included GREATER own_layer)
    breach("platform layer ${own_name} includes ${path} of a layer above it")
  endif()
  if("${path}" MATCHES "^platform/([a-z]+)/internal/")
    set(owner ${CMAKE_MATCH_1})
    if(NOT rel MATCHES "^(tests/)?platform/${owner}/" AND NOT rel IN_LIST internal_users)
      breach("${path} is internal to platform/${owner}")
    endif()
  elseif("${path}" MATCHES "^internal/" AND NOT rel MATCHES "^(tests/)?platform/")
    # A quoted "internal/x.h" outside platform/ reaches a layer through its testing target.
    if(NOT rel IN_LIST internal_users)
      breach("${path} is internal to a platform layer")
    endif()
  endif()
  if(is_system)
    if("${path}" MATCHES "(^|/)(internal|detail|linux|windows)/")
      breach("system code includes the platform's own header ${path}")
    elseif("${kind}" STREQUAL "<" AND NOT "${path}" MATCHES "^[a-z_0-9]+$"
           AND NOT "${path}" IN_LIST c_headers)
      breach("system code includes the operating system's <${path}>")
    endif()
  endif()
endmacro()

file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/*.h ${ROOT}/*.cpp)
list(FILTER files INCLUDE REGEX "^(platform|serial|probe|config|ui|lister|tests|tools|bench)/")
list(FILTER files EXCLUDE REGEX "^tests/layout/fixtures/")
foreach(rel IN LISTS files)
  layer_of("${rel}" own_layer)
  set(own_name)
  if(own_layer GREATER -1)
    list(GET layers ${own_layer} own_name)
  endif()
  set(is_system FALSE)
  if(rel MATCHES "^([a-z]+)/" AND CMAKE_MATCH_1 IN_LIST system_dirs)
    set(is_system TRUE)
  endif()
  set(neutral ${is_system})
  if(rel MATCHES "^platform/app/")
    set(neutral TRUE)
  endif()

  # One list item per line; characters that mean something to CMake lists are dropped first.
  file(READ ${ROOT}/${rel} text)
  string(REGEX REPLACE "[][;\\]" "|" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
      check_include("${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}")
    elseif(neutral)
      string(REGEX REPLACE "//.*" "" code "${line}")
      if(code MATCHES "char16_t|u16string|wchar_t|wstring|(^|[^A-Za-z0-9_'\"])[uL]['\"]")
        string(REGEX MATCH "[a-z0-9_]+['\"]?$" what "${CMAKE_MATCH_0}")
        breach("${what}: wide text is WCHAR and TEXT()")
      endif()
    endif()
  endforeach()
endforeach()

if(breaches GREATER 0)
  message(FATAL_ERROR "${breaches} layout breach(es) in ${ROOT}")
endif()
