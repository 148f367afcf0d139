# eapcfg's refusals: a non-zero exit, the module's status and a reason a
# person can act on.
#   -DEAPCFG=... -DEMULATOR=... (empty on Linux) -DWORK=dir
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(expect_failure pattern)
  execute_process(COMMAND ${EMULATOR} ${EAPCFG} ${ARGN} WORKING_DIRECTORY ${WORK}
                  OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr RESULT_VARIABLE rc)
  string(REPLACE "\r" "" stderr "${stderr}")
  if(rc EQUAL 0)
    message(FATAL_ERROR "eapcfg ${ARGN} succeeded; expected: ${pattern}")
  endif()
  if(NOT stderr MATCHES "${pattern}")
    message(FATAL_ERROR "eapcfg ${ARGN}: stderr does not match \"${pattern}\":\n${stderr}")
  endif()
  message(STATUS "eapcfg ${ARGN}: ${stderr}")
endfunction()

set(config "<Config xmlns='http://www.microsoft.com/provisioning/EapHostConfig'>")
file(WRITE ${WORK}/malformed.xml "${config}\n<EapTtls>\n<credPrompt>\n</EapTtls></Config>\n")
file(WRITE ${WORK}/sim.xml "${config}<EapSim/></Config>")
file(WRITE ${WORK}/no-password.xml
     "${config}<EapTtls><credSaved><identity>a</identity></credSaved></EapTtls></Config>")
file(WRITE ${WORK}/prefixed.xml "${config}<v:EapTtls xmlns:v='urn:v'/></Config>")
file(WRITE ${WORK}/commented.xml "${config}<!-- <EapTtls/> --></Config>")
file(MAKE_DIRECTORY ${WORK}/folder.cdata)
file(WRITE ${WORK}/short.cdata "0123456789")

expect_failure("malformed.xml:[0-9]+:[0-9]+: not well-formed XML" import malformed.xml)
expect_failure("error 87: the document has no EapTtls element under its first child" import sim.xml --type ttls)
expect_failure("error 87: credSaved has no password element" import no-password.xml)
expect_failure("error 87: .*first child \"v:EapTtls\" carries a prefix" import prefixed.xml --type ttls)
expect_failure("error 87: .*a comment that holds the EapTtls element" import commented.xml --type ttls)
expect_failure("error 87: the document has no EapTtls, EapSim or EapAka element under its first child"
               import prefixed.xml)
expect_failure("error 87: short.cdata is 10 bytes, not a 1520-byte configuration record" show short.cdata)
expect_failure("unknown method type" export --type peap)
expect_failure("missing.xml: no such file" import missing.xml)
expect_failure("folder.cdata is a folder, not a record file" show folder.cdata)
expect_failure("\"frobnicate\" is not a subcommand; the subcommands are: import, export, show" frobnicate)
if(EMULATOR)
  # Wine without a display: the dialog cannot open, which is not a cancel.
  expect_failure("the configuration dialog could not open: no display" configure new.cdata --type ttls)
endif()
# An SSID is at most 32 bytes: a longer one would make a profile no one can add.
expect_failure("an SSID is 1 to 32 bytes" wlan-profile w.xml --ssid 123456789012345678901234567890123)
expect_failure("error 87: short.cdata is not a 1520-byte" wlan-profile w.xml --ssid x --record short.cdata)
