# Reads the product's export table (and on Windows its import table) from the
# file itself: exactly the twelve names, undecorated, and no runtime DLL of
# the compiler among the imports.
set(expected
  DllRegisterServer DllUnregisterServer EapPeerConfigBlob2Xml EapPeerConfigXml2Blob
  EapPeerCredentialsXml2Blob EapPeerFreeErrorMemory EapPeerFreeMemory EapPeerInvokeConfigUI
  EapPeerInvokeIdentityUI EapPeerInvokeInteractiveUI EapPeerQueryCredentialInputFields
  EapPeerQueryUserBlobFromCredentialInputFields)

if(WINDOWS)
  execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${MODULE}")
  endif()
  # The name table follows "[Ordinal/Name Pointer] Table", one "[   0] Name"
  # line each, up to the next blank line.
  string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "no export name table in ${MODULE}")
  endif()
  string(SUBSTRING "${dump}" ${at} -1 table)
  string(FIND "${table}" "\n\n" end)
  string(SUBSTRING "${table}" 0 ${end} table)
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" lines "${table}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${line}")
    string(STRIP "${name}" name)
    list(APPEND names ${name})
  endforeach()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  foreach(import IN LISTS imports)
    string(TOLOWER "${import}" import)
    if(import MATCHES "libgcc|libstdc|libwinpthread|msvcp|vcruntime|libssp")
      message(FATAL_ERROR "the module imports a compiler runtime: ${import}")
    endif()
  endforeach()
  message(STATUS "imports: ${imports}")
else()
  execute_process(COMMAND ${NM} -D --defined-only ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${MODULE}")
  endif()
  string(REGEX MATCHALL "[0-9a-fA-F]+ [TtWw] [^\n]+" lines "${dump}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE ".* ([^ ]+)$" "\\1" name "${line}")
    list(APPEND names ${name})
  endforeach()
endif()

list(SORT names)
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports differ\n  found:    ${names}\n  expected: ${expected}")
endif()
message(STATUS "exports: ${names}")
