# The folders of src/ are layers, each built as a static library that links
# only the layers below it (pinemail_text, pinemail_config, ...). Includes
# are checked too: a header of a layer that is not linked (a back edge) fails
# the configure step and, after any edit, the build. A layer may be divided
# into rooms whose includes are checked the same way among themselves.
include(${CMAKE_CURRENT_LIST_DIR}/check_layers.cmake)

# pinemail_layer(NAME [BELOW layer...]): the library of src/NAME, its sources
# listed by src/NAME/CMakeLists.txt.
function(pinemail_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "BELOW")
  add_library(pinemail_${name} STATIC)
  target_include_directories(pinemail_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(pinemail_${name} PUBLIC pinemail_warnings)
  foreach(lower IN LISTS arg_BELOW)
    target_link_libraries(pinemail_${name} PUBLIC pinemail_${lower})
  endforeach()
  add_dependencies(pinemail_${name} pinemail_layer_check)
  list(JOIN arg_BELOW "," lower_layers)
  set_property(GLOBAL APPEND PROPERTY PINEMAIL_LAYER_RULES "${name}=${lower_layers}")
  set_property(GLOBAL APPEND PROPERTY PINEMAIL_LAYER_LIBRARIES pinemail_${name})
  set(PINEMAIL_LAYER ${name})
  set(PINEMAIL_LAYER_BELOW ${arg_BELOW})
  add_subdirectory(${name})
endfunction()

# pinemail_room(NAME [BELOW room...]), in the CMakeLists.txt of a layer: the
# room src/<layer>/NAME (a folder, or the files whose names start with NAME),
# which may include the layers below its layer and the rooms named BELOW.
function(pinemail_room name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "BELOW")
  set(lower ${PINEMAIL_LAYER_BELOW})
  foreach(room IN LISTS arg_BELOW)
    list(APPEND lower ${PINEMAIL_LAYER}/${room})
  endforeach()
  list(JOIN lower "," lower)
  set_property(GLOBAL APPEND PROPERTY PINEMAIL_LAYER_RULES "${PINEMAIL_LAYER}/${name}=${lower}")
endfunction()

# The top: entry points that may include every layer. Checks every layer's
# includes now and on every build after a source changed.
function(pinemail_check_layer_includes top)
  get_property(libraries GLOBAL PROPERTY PINEMAIL_LAYER_LIBRARIES)
  string(REPLACE "pinemail_" "" lower_layers "${libraries}")
  list(JOIN lower_layers "," lower_layers)
  set_property(GLOBAL APPEND PROPERTY PINEMAIL_LAYER_RULES "${top}=${lower_layers}")
  get_property(rules GLOBAL PROPERTY PINEMAIL_LAYER_RULES)
  list(JOIN rules "|" rules)
  set(source_dir ${PROJECT_SOURCE_DIR}/src)
  pinemail_check_layers(${source_dir} "${rules}")
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${source_dir}/*.h ${source_dir}/*.cpp
                                              ${source_dir}/*.rc)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/layers.checked)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DPINEMAIL_SOURCE_DIR=${source_dir} "-DPINEMAIL_LAYER_RULES=${rules}"
            -P ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${sources} ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake
    COMMENT "Checking that no layer or room includes one above it"
    VERBATIM)
  add_custom_target(pinemail_layer_check DEPENDS ${stamp})
endfunction()
