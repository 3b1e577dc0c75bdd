# belvane_program_icon(<target> TABLE <function> GROUP <ordinal> SOURCES ... [DEFINES ...]):
# on Windows, the icon group <ordinal> of the program's resource table (made in code by
# <function>, defined in SOURCES) becomes the icon of its .exe. A small program built with
# the build machine's compiler (tools/icon_file) writes the .ico; windres links it in.
function(belvane_program_icon target)
  cmake_parse_arguments(I "" "TABLE;GROUP" "SOURCES;DEFINES" ${ARGN})
  find_program(BELVANE_HOST_CXX NAMES g++ c++ REQUIRED)
  set(writer ${CMAKE_CURRENT_BINARY_DIR}/${target}-icon-file)
  set(ico ${CMAKE_CURRENT_BINARY_DIR}/${target}.ico)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-icon.rc)
  set(sources ${PROJECT_SOURCE_DIR}/tools/icon_file/icon_file.cpp ${I_SOURCES}
              ${PROJECT_SOURCE_DIR}/platform/ui/icon_writer.cpp
              ${PROJECT_SOURCE_DIR}/platform/ui/dialog_template.cpp)
  list(TRANSFORM I_DEFINES PREPEND -D)
  add_custom_command(OUTPUT ${ico}
    COMMAND ${BELVANE_HOST_CXX} -std=c++20 -I${PROJECT_SOURCE_DIR}
            -DBELVANE_ICON_TABLE=${I_TABLE} ${I_DEFINES} ${sources} -o ${writer}
    COMMAND ${writer} ${ico} ${I_GROUP}
    DEPENDS ${sources} VERBATIM
    COMMENT "Writing the icon of ${target}")
  file(WRITE ${rc} "1 ICON \"${ico}\"\n")
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${ico})
  target_sources(${target} PRIVATE ${rc})
endfunction()
