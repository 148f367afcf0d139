# eapcfg(OUT ARGS...): runs the tool in ${WORK} (under ${EMULATOR} when set),
# fails the test when it fails or doubles a line end, and gives its output
# with Windows line ends made plain.
function(eapcfg out)
  # Through a file: a captured output has its line ends made plain already.
  execute_process(COMMAND ${EMULATOR} ${EAPCFG} ${ARGN} WORKING_DIRECTORY ${WORK}
                  OUTPUT_FILE ${WORK}/stdout.txt ERROR_VARIABLE stderr RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "eapcfg ${ARGN} failed (${rc}): ${stderr}")
  endif()
  file(READ ${WORK}/stdout.txt bytes HEX)
  if(bytes MATCHES "^(..)*0d0d0a")
    message(FATAL_ERROR "eapcfg ${ARGN}: a line ends in CR CR LF")
  endif()
  file(READ ${WORK}/stdout.txt stdout)
  string(REPLACE "\r" "" stdout "${stdout}")
  set(${out} "${stdout}" PARENT_SCOPE)
endfunction()

# expect(TEXT PATTERN): fails the test unless TEXT matches PATTERN.
function(expect text pattern)
  if(NOT text MATCHES "${pattern}")
    message(FATAL_ERROR "expected \"${pattern}\" in:\n${text}")
  endif()
endfunction()
