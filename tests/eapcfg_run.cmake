# eapcfg(OUT ARGS...): runs the tool in ${WORK} (under ${EMULATOR} when set),
# fails the test when it fails or doubles a line end, and gives its output
# with Windows line ends made plain.
function(eapcfg out)
  execute_process(COMMAND ${EMULATOR} ${EAPCFG} ${ARGN} WORKING_DIRECTORY ${WORK}
                  OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "eapcfg ${ARGN} failed (${rc}): ${stderr}")
  endif()
  if(stdout MATCHES "\r\r")
    message(FATAL_ERROR "eapcfg ${ARGN}: doubled carriage returns in its output")
  endif()
  string(REPLACE "\r" "" stdout "${stdout}")
  set(${out} "${stdout}" PARENT_SCOPE)
endfunction()
