# The include rule of src/: a folder includes only its own headers and those
# of the folders below it. cmake -DSRC=<src folder> -P check_layers.cmake
# prints each include that breaks the rule and fails when there is one.
#
#   abi          the binary formats every library shares (headers, no code)
#   base         the toolkit every library may use
#   simcore, authdialogs, cfgbridge
#                the sibling libraries: abi and base only
#   trace < frame < protect < xmlconfig, and frame < siblings < sim < ui
#                the module's subsystems
#   module       the module's entry into the platform: anything
cmake_minimum_required(VERSION 3.25)

set(allowed_abi abi)
set(allowed_base abi base)
set(allowed_simcore abi base simcore)
set(allowed_authdialogs abi base authdialogs)
set(allowed_cfgbridge abi base cfgbridge)
set(allowed_trace abi base trace)
set(allowed_frame abi base trace frame)
set(allowed_protect abi base trace frame protect)
set(allowed_xmlconfig abi base trace frame protect xmlconfig)
set(allowed_siblings abi base trace frame siblings)
set(allowed_sim abi base trace frame siblings sim)
set(allowed_ui abi base trace frame protect siblings sim ui)
set(allowed_module abi base trace frame protect xmlconfig siblings sim ui module)

if(NOT SRC)
  message(FATAL_ERROR "usage: cmake -DSRC=<src folder> -P check_layers.cmake")
endif()
get_filename_component(SRC "${SRC}" ABSOLUTE)
file(GLOB_RECURSE sources RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp ${SRC}/*.inl ${SRC}/*.rc)
set(broken 0)
foreach(source IN LISTS sources)
  string(REGEX MATCH "^[^/]+" folder "${source}")
  if(NOT DEFINED allowed_${folder})
    message(SEND_ERROR "${source}: folder ${folder} has no place in the layers")
    math(EXPR broken "${broken} + 1")
    continue()
  endif()
  file(STRINGS ${SRC}/${source} includes REGEX "^#include \"[^\"]+/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"([^\"/]+)/.*" "\\1" target "${line}")
    # A relative include ("../base/version_info.rc") names its folder after the ../
    if(target STREQUAL "..")
      string(REGEX REPLACE "^#include \"\\.\\./([^\"/]+)/.*" "\\1" target "${line}")
    endif()
    if(NOT target IN_LIST allowed_${folder})
      message(SEND_ERROR "${source}: ${line} reaches up from ${folder} to ${target}")
      math(EXPR broken "${broken} + 1")
    endif()
  endforeach()
endforeach()
if(broken GREATER 0)
  message(FATAL_ERROR "${broken} include(s) break the layers")
endif()
