# Warnings and sanitizers, applied per target through belvane_options; belvane_warnings is
# the warnings alone, for a program that must not carry a sanitizer's signal handlers (the
# driver helper, whose crash is the news it reports).
add_library(belvane_warnings INTERFACE)
target_compile_options(belvane_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Wunused -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
# GCC 12 reports -Wrestrict and -Wnull-dereference inside the standard library's own string
# and vector code at -O2 and above; neither warning is enabled, so optimised builds stay clean.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(belvane_warnings INTERFACE -Wno-restrict)
endif()
if(BELVANE_WERROR)
  target_compile_options(belvane_warnings INTERFACE -Werror)
endif()
add_library(belvane_options INTERFACE)
target_link_libraries(belvane_options INTERFACE belvane_warnings)
if(BELVANE_SANITIZE STREQUAL "address")
  target_compile_options(belvane_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(belvane_options INTERFACE -fsanitize=address,undefined)
elseif(BELVANE_SANITIZE STREQUAL "thread")
  target_compile_options(belvane_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(belvane_options INTERFACE -fsanitize=thread)
endif()

# The test programs' precompiled header (tests/CMakeLists.txt), where it exists. GCC does not
# know the standard headers in it for system headers any more, so GCC 12's false warnings in the
# standard library's string code at -O1 and above (as -Wrestrict above) show in optimised test
# builds: test code turns those three off.
function(belvane_use_test_pch target)
  if(NOT TARGET belvane_test_pch)
    return()
  endif()
  target_precompile_headers(${target} REUSE_FROM belvane_test_pch)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-array-bounds -Wno-stringop-overflow
                                             -Wno-stringop-overread)
  endif()
endfunction()

# belvane_test(<name> SOURCES ... LIBS ... LABELS ... [RESOURCE_LOCK <name>] [PROCESSORS <n>]
# [RUN_SERIAL]): one GoogleTest executable, discovered by ctest. Tests that share a
# RESOURCE_LOCK never run at the same time. The test presets run more tests at once than there
# are cores, as most of the long ones sleep: a test that keeps the processors busy says how
# many it takes, and one whose outcome depends on having them to itself runs alone.
function(belvane_test name)
  cmake_parse_arguments(T "RUN_SERIAL" "TIMEOUT;RESOURCE_LOCK;PROCESSORS" "SOURCES;LIBS;LABELS"
                        ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} belvane_testsupport GTest::gtest GTest::gtest_main belvane_options)
  belvane_use_test_pch(${name})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(T_EXTRA)
  if(T_RESOURCE_LOCK)
    set(T_EXTRA RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  if(T_PROCESSORS)
    list(APPEND T_EXTRA PROCESSORS ${T_PROCESSORS})
  endif()
  if(T_RUN_SERIAL)
    list(APPEND T_EXTRA RUN_SERIAL TRUE)
  endif()
  if(CMAKE_CROSSCOMPILING)
    # One run per program: each start of the emulator (Wine) costs seconds.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT} ${T_EXTRA})
    return()
  endif()
  gtest_discover_tests(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT} ${T_EXTRA}
                       DISCOVERY_TIMEOUT 60)
endfunction()

# belvane_library(<name> DEPS ...): the folder's *.cpp files as one static library; files
# named *_main.cpp hold program entries and stay out of it.
function(belvane_library name)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_main\\.cpp$")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${L_DEPS} PRIVATE belvane_options)
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${L_DEPS})
  endif()
endfunction()

# Fuzzing: every library is instrumented for libFuzzer and built with AddressSanitizer and
# UndefinedBehaviorSanitizer; the fuzz programs themselves link the libFuzzer driver.
if(BELVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "BELVANE_FUZZ needs clang (libFuzzer)")
  endif()
  if(BELVANE_SANITIZE)
    message(FATAL_ERROR "BELVANE_FUZZ brings its own sanitizers; leave BELVANE_SANITIZE empty")
  endif()
  target_compile_options(belvane_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(belvane_options INTERFACE -fsanitize=address,undefined)
endif()
