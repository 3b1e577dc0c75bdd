# The host side of the tests under Wine: belvane-ptylink and belvane-sim, built from this
# source tree with the host's compiler, and belvane_wine_ports() to run a test program
# with serial ports made by them.
include(ExternalProject)
# A belvane-sim built for the host already (the default preset's, as CI has one) spares the
# host build the simulator and the platform beneath it, most of its work.
set(BELVANE_HOST_SIM "" CACHE FILEPATH "belvane-sim built for the host; empty: built here")
set(belvane_host_dir ${CMAKE_BINARY_DIR}/host)
set(belvane_host_targets belvane-ptylink)
set(belvane_host_products ${belvane_host_dir}/belvane-ptylink)
if(NOT BELVANE_HOST_SIM)
  list(APPEND belvane_host_targets belvane-sim)
  list(APPEND belvane_host_products ${belvane_host_dir}/simulator/belvane-sim)
endif()
# The host tools only drive the tests: built unoptimised, which halves their compile time.
set(belvane_host_args -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O0
    -DCMAKE_CXX_COMPILER=c++ -DCMAKE_C_COMPILER=cc -DBELVANE_WERROR=${BELVANE_WERROR})
if(DEFINED ENV{CMAKE_CXX_COMPILER_LAUNCHER})
  list(APPEND belvane_host_args -DCMAKE_CXX_COMPILER_LAUNCHER=$ENV{CMAKE_CXX_COMPILER_LAUNCHER})
endif()
ExternalProject_Add(belvane_host
  SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/host
  BINARY_DIR ${belvane_host_dir}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS ${belvane_host_args}
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${belvane_host_dir} --target ${belvane_host_targets}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${belvane_host_products})
if(NOT BELVANE_HOST_SIM)
  set(BELVANE_HOST_SIM ${belvane_host_dir}/simulator/belvane-sim)
endif()

# belvane_wine_ports(<test target> [LINKS n] [BENCH file]): the test runs under
# cmake/wine-ports.sh with n linked port pairs and/or the devices of a simulator bench.
function(belvane_wine_ports target)
  cmake_parse_arguments(W "" "LINKS;BENCH" "" ${ARGN})
  set(emulator ${PROJECT_SOURCE_DIR}/cmake/wine-ports.sh)
  if(W_LINKS)
    list(APPEND emulator --links ${W_LINKS} --link-program ${belvane_host_dir}/belvane-ptylink)
  endif()
  if(W_BENCH)
    list(APPEND emulator --bench ${W_BENCH} --sim-program ${BELVANE_HOST_SIM})
  endif()
  list(APPEND emulator --)
  set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR "${emulator}")
  add_dependencies(${target} belvane_host)
endfunction()
