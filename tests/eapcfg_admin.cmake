# eapcfg with files as administrators have them, and what it must never do to
# them: profiles in UTF-16 or inside larger documents, records that fill
# their fields, a write that fails half-way, and every value the module
# drops or changes named on stderr.
#   -DEAPCFG=... -DEMULATOR=... (empty on Linux) -DEXAMPLES=dir -DVECTORS=dir -DWORK=dir -DWINDOWS=0|1
include(${CMAKE_CURRENT_LIST_DIR}/eapcfg_run.cmake)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(ENV{XDG_DATA_HOME} ${WORK}/data)

# run(RC OUT ARGS... [INPUT file]): eapcfg's exit status must be RC; OUT gets
# stdout and stderr.
function(run expected_rc out)
  cmake_parse_arguments(RUN "" "INPUT" "" ${ARGN})
  set(input)
  if(RUN_INPUT)
    set(input INPUT_FILE ${RUN_INPUT})
  endif()
  execute_process(COMMAND ${EMULATOR} ${EAPCFG} ${RUN_UNPARSED_ARGUMENTS} WORKING_DIRECTORY ${WORK}
                  ${input} OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr RESULT_VARIABLE rc)
  string(REPLACE "\r" "" text "${stdout}${stderr}")
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "eapcfg ${RUN_UNPARSED_ARGUMENTS}: exit ${rc}, expected ${expected_rc}\n${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(refuse text pattern)
  if(text MATCHES "${pattern}")
    message(FATAL_ERROR "did not expect \"${pattern}\" in:\n${text}")
  endif()
endfunction()

# A record whose fields fill their slots: shown to the slot's end, never into
# the next field (the password), control bytes escaped. An absolute path is
# a path on Windows too.
string(REPEAT u 128 slot)
run(0 out show ${VECTORS}/unterminated.cdata)
expect("${out}" "identity: +\"${slot}\"\n")
expect("${out}" "outer identity: +\"\\\\x1b\\[2J\\\\x1b\\]0;owned\\\\x07tail\"")
string(ASCII 27 escape)
refuse("${out}" "PLAINSECRET|${escape}")

# Profiles as Windows tools save them; the method type from EapMethod/Type.
set(config "<Config xmlns='http://www.microsoft.com/provisioning/EapHostConfig'>")
file(WRITE ${WORK}/commented.xml "<!-- exported -->${config}<EapTtls><credSSO/></EapTtls></Config>")
foreach(case "${VECTORS}/eaphost-utf16.xml|inner method: +PAP"
             "${VECTORS}/wlan-utf8bom.xml|EAP-SIM.*decorative identity: +\"1{imsi}@wlan.example\""
             "commented.xml|single sign-on")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 profile)
  list(GET case 1 pattern)
  run(0 out import ${profile} -o profile.cdata)
  expect("${out}" "${pattern}")
endforeach()

# Each value the module drops or changes is named; --strict fails on it.
string(REPEAT x 130 long_subject)
string(REPEAT p 101 long_password)
foreach(case "<anonymousIdentity>jürgen@corp</anonymousIdentity>|anonymousIdentity: dropped: the module reads only 7-bit ASCII"
             "<subjectMatchString>${long_subject}</subjectMatchString>|subjectMatchString: cut to its first 127 characters \\(it has 130\\)"
             "<Phase2Type>mschapv2</Phase2Type>|Phase2Type: not a name the module knows: stored as unrecognised, exported as \"UNKNOWN\""
             "<Phase2Type>EAP-MSCHAPV2</Phase2Type>|Phase2Type: EAP-MSCHAPV2: the configuration dialog stores it as MSCHAPV2"
             "<credSaved><identity>a</identity><password>${long_password}</password></credSaved>|password: 101 characters: an export writes \"None\"")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 body)
  list(GET case 1 pattern)
  file(WRITE ${WORK}/lossy.xml "${config}<EapTtls>${body}</EapTtls></Config>")
  run(0 out import lossy.xml)
  expect("${out}" "eapcfg: warning: ${pattern}")
  run(3 out --strict import lossy.xml)
endforeach()
file(COPY ${EXAMPLES}/ttls-saved.xml ${EXAMPLES}/sim.xml DESTINATION ${WORK})
run(0 out import ttls-saved.xml --strict)
refuse("${out}" "warning")

# The record file is replaced whole or not at all, and is its owner's alone;
# a profile is never overwritten by its own record.
run(1 out import ttls-saved.xml -o ttls-saved.xml)
expect("${out}" "would replace the profile ttls-saved.xml")
if(NOT WINDOWS)
  run(0 out import ttls-saved.xml -o record.cdata)
  execute_process(COMMAND stat -c %a ${WORK}/record.cdata OUTPUT_VARIABLE mode)
  expect("${mode}" "^600\n")
  file(SHA256 ${WORK}/record.cdata before)
  file(GLOB files_before ${WORK}/*)
  execute_process(COMMAND sh -c "ulimit -f 1; exec ${EAPCFG} import ttls-saved.xml -o record.cdata"
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc ERROR_VARIABLE err)
  file(SHA256 ${WORK}/record.cdata after)
  file(GLOB files_after ${WORK}/*)
  if(rc EQUAL 0 OR NOT before STREQUAL after OR NOT files_before STREQUAL files_after)
    message(FATAL_ERROR "a failed write (${rc}: ${err}) changed the folder:\n${files_after}")
  endif()

  # A key others can read is refused: the password stays plain, and why.
  file(MAKE_DIRECTORY ${WORK}/shared/veltoeap)
  file(WRITE ${WORK}/shared/veltoeap/key "0123456789abcdef0123456789abcdef")
  file(CHMOD ${WORK}/shared/veltoeap/key PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  set(ENV{XDG_DATA_HOME} ${WORK}/shared)
  run(0 out import ttls-saved.xml -o plain.cdata)
  expect("${out}" "warning: password: saved in plain text: sealing it failed: [^\n]*/key has mode 0644")
  set(ENV{XDG_DATA_HOME} ${WORK}/data)
endif()

# A password piped on a line of its own is not echoed.
run(0 out import sim.xml)
file(WRITE ${WORK}/stdin.txt "hunter2\n")
run(1 out userblob sim.cdata --stdin INPUT ${WORK}/stdin.txt)
expect("${out}" "line 1 of standard input is not")
refuse("${out}" "hunter2")
message(STATUS "files, losses and writes as expected")
