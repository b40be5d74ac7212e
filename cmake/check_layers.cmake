# Fails when a file of a layer in src/ includes a header of a folder that the
# layer does not link: a folder above it (a back edge) or beside it.
#
# Run at configure time (include() and call pinemail_check_layers) and again
# at build time whenever a source changes:
#   cmake -DPINEMAIL_SOURCE_DIR=<src> -DPINEMAIL_LAYER_RULES=<rules> -P check_layers.cmake
# Rules are "layer=lower,lower,..." separated by "|", e.g.
#   "text=|config=text|merge=text,config".
cmake_policy(VERSION 3.25)

function(pinemail_check_layers source_dir rules)
  string(REPLACE "|" ";" rules "${rules}")
  set(layers)
  foreach(rule IN LISTS rules)
    string(REGEX REPLACE "=.*" "" layer "${rule}")
    list(APPEND layers ${layer})
  endforeach()
  set(problems)
  foreach(rule IN LISTS rules)
    string(REGEX REPLACE "=.*" "" layer "${rule}")
    string(REGEX REPLACE "^[^=]*=" "" allowed "${rule}")
    string(REPLACE "," ";" allowed "${allowed}")
    file(GLOB_RECURSE files ${source_dir}/${layer}/*.h ${source_dir}/${layer}/*.cpp
                            ${source_dir}/${layer}/*.rc)
    foreach(file IN LISTS files)
      file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z0-9_]+/")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[^\"]*\"([A-Za-z0-9_]+)/.*" "\\1" folder "${line}")
        if(folder STREQUAL layer OR NOT folder IN_LIST layers OR folder IN_LIST allowed)
          continue()
        endif()
        file(RELATIVE_PATH shown ${source_dir} ${file})
        string(STRIP "${line}" line)
        list(JOIN allowed ", " linked)
        list(APPEND problems "  ${shown}: ${line} (${layer} links only: ${linked})")
      endforeach()
    endforeach()
  endforeach()
  if(problems)
    list(JOIN problems "\n" problems)
    message(FATAL_ERROR "A layer includes a header of a layer it does not link:\n${problems}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED PINEMAIL_SOURCE_DIR)
  pinemail_check_layers(${PINEMAIL_SOURCE_DIR} "${PINEMAIL_LAYER_RULES}")
endif()
