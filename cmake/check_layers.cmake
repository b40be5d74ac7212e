# Fails when a file of a layer in src/ includes a header of a folder that the
# layer does not link: a folder above it (a back edge) or beside it. A layer
# may hold rooms, checked the same way among themselves: a room may include
# the layers below its own and the rooms named for it, nothing else.
#
# Run at configure time (include() and call pinemail_check_layers) and again
# at build time whenever a source changes:
#   cmake -DPINEMAIL_SOURCE_DIR=<src> -DPINEMAIL_LAYER_RULES=<rules> -P check_layers.cmake
# Rules are "name=lower,lower,..." separated by "|", e.g.
#   "text=|config=text|merge=text,config|mail/smtp=text,mail/net".
# A name is a path under src/: a folder ("mail/smtp" holds src/mail/smtp/...)
# or a family of files ("mail/transport" holds src/mail/transport.h and
# src/mail/transport_config.cpp). A file belongs to the longest name that
# holds it; naming a layer in a rule allows its rooms too.
cmake_policy(VERSION 3.25)

# The longest of `names` that holds `path` (a path under src/), or "".
function(pinemail_layer_holding path names out)
  set(found "")
  set(found_length 0)
  string(LENGTH "${path}" path_length)
  foreach(name IN LISTS names)
    string(LENGTH "${name}" length)
    if(NOT length LESS path_length)
      continue()
    endif()
    string(SUBSTRING "${path}" 0 ${length} head)
    string(SUBSTRING "${path}" ${length} 1 next)
    if(head STREQUAL name AND next MATCHES "^[/._]$" AND length GREATER found_length)
      set(found "${name}")
      set(found_length ${length})
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# True when `allowed` names `layer` or the layer that holds it as a room.
function(pinemail_layer_allowed layer allowed out)
  set(result FALSE)
  foreach(name IN LISTS allowed)
    string(FIND "${layer}/" "${name}/" at)
    if(at EQUAL 0)
      set(result TRUE)
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

function(pinemail_check_layers source_dir rules)
  string(REPLACE "|" ";" rules "${rules}")
  set(layers)
  foreach(rule IN LISTS rules)
    string(REGEX REPLACE "=.*" "" layer "${rule}")
    list(APPEND layers ${layer})
    string(REGEX REPLACE "^[^=]*=" "" allowed "${rule}")
    set(allowed_${layer} "${allowed}")
  endforeach()
  set(problems)
  file(GLOB_RECURSE files RELATIVE ${source_dir} ${source_dir}/*.h ${source_dir}/*.cpp
                                                 ${source_dir}/*.rc)
  foreach(file IN LISTS files)
    pinemail_layer_holding("${file}" "${layers}" layer)
    if(NOT layer)
      continue()
    endif()
    string(REPLACE "," ";" allowed "${allowed_${layer}}")
    file(STRINGS ${source_dir}/${file} includes
         REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z0-9_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*" "\\1" header "${line}")
      pinemail_layer_holding("${header}" "${layers}" included)
      pinemail_layer_allowed("${included}" "${allowed}" ok)
      if(NOT included OR included STREQUAL layer OR ok)
        continue()
      endif()
      string(STRIP "${line}" line)
      list(JOIN allowed ", " linked)
      list(APPEND problems "  ${file}: ${line} (${layer} uses only: ${linked})")
    endforeach()
  endforeach()
  if(problems)
    list(JOIN problems "\n" problems)
    message(FATAL_ERROR
            "A layer or room includes a header of one it may not use:\n${problems}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED PINEMAIL_SOURCE_DIR)
  pinemail_check_layers(${PINEMAIL_SOURCE_DIR} "${PINEMAIL_LAYER_RULES}")
endif()
