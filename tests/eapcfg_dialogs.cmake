# eapcfg configure and identity with the real dialog library (Linux), its
# dialogs answered from answers files: what a confirmed dialog stores, that a
# cancelled one leaves the record alone, what the identity export reports,
# and that a password or PIN never reaches the output.
#   -DEAPCFG=... -DWORK=dir
include(${CMAKE_CURRENT_LIST_DIR}/eapcfg_run.cmake)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/registry)
# A key of our own, and no library directory: the module opens the dialog
# library beside it by plain name.
set(ENV{XDG_DATA_HOME} ${WORK}/data)
set(ENV{VELTOEAP_REGISTRY_ROOT} ${WORK}/registry)

# run(ANSWERS EXPECTED_RC OUT ARGS...): eapcfg with the answers text in a
# file of its own; OUT gets stdout and stderr.
function(run answers expected_rc out)
  string(MD5 name "${answers}${ARGN}")
  file(WRITE ${WORK}/${name}.answers "${answers}")
  set(ENV{VELTOEAP_DIALOG_ANSWERS} ${WORK}/${name}.answers)
  execute_process(COMMAND ${EAPCFG} ${ARGN} WORKING_DIRECTORY ${WORK}
                  OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr RESULT_VARIABLE rc)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "eapcfg ${ARGN}: exit ${rc}, expected ${expected_rc}\n${stdout}${stderr}")
  endif()
  if("${stdout}${stderr}" MATCHES "typed-secret|4711")
    message(FATAL_ERROR "eapcfg ${ARGN} showed a password or PIN:\n${stdout}${stderr}")
  endif()
  set(${out} "${stdout}${stderr}" PARENT_SCOPE)
endfunction()

# A new EAP-TTLS configuration: every answered field reaches the record.
string(CONCAT answers "[config]\nsource=saved\ninner=PAP\nuser=alice\ndomain=CORP\n"
       "password=typed-secret\nouter=anon@example.org\nvalidation=thumbprint\n"
       "thumbprint=01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67\n"
       "subject=radius.example.org\nsubject_kind=domain\n")
run("${answers}" 0 out configure ttls.cdata --type ttls)
expect("${out}" "ttls.cdata written")
expect("${out}" "inner method: +PAP \\(256\\)")
expect("${out}" "identity: +\"CORP\\\\alice\"")
expect("${out}" "outer identity: +\"anon@example.org\"")
expect("${out}" "certificate hash \"hash://0123456789abcdef0123456789abcdef01234567\"")
expect("${out}" "subject match: +domain name \"radius.example.org\"")
expect("${out}" "password: +sealed, profile form")

# Changing one field keeps the others, the password included.
run("[config]\ninner=2\nvalidation=any\n" 0 out configure ttls.cdata)
expect("${out}" "ttls.cdata updated")
expect("${out}" "inner method: +EAP-MD5 \\(4\\)")
expect("${out}" "identity: +\"CORP\\\\alice\"")
expect("${out}" "server validation: +any trusted server")
expect("${out}" "password: +sealed, profile form")

# Cancelled, or refused by a check: the record file stays as it was.
file(SHA256 ${WORK}/ttls.cdata before)
run("[config]\nuser=mallory\naction=cancel\n" 2 out configure ttls.cdata)
expect("${out}" "cancelled: ttls.cdata is left as it was")
run("[config]\nvalidation=thumbprint\nthumbprint=0123\n" 2 out configure ttls.cdata)
expect("${out}" "40 hexadecimal digits")
file(SHA256 ${WORK}/ttls.cdata after)
if(NOT before STREQUAL after)
  message(FATAL_ERROR "a cancelled dialog changed the record")
endif()

# The identity is the outer identity, whatever is typed; the domain travels
# in the user identity; the password is sealed.
run("[credential]\nuser=carol\ndomain=LAB\npassword=typed-secret\n" 0 out identity ttls.cdata)
expect("${out}" "identity: +\"anon@example.org\"")
expect("${out}" "user identity: +\"LAB\\\\carol\"")
expect("${out}" "password: +sealed")
expect("${out}" "PIN: +not set")
run("[credential]\naction=cancel\n" 2 out identity ttls.cdata)
expect("${out}" "cancelled: no identity")

# An inner method the dialog stores otherwise is named; --strict leaves the
# file as it was, so the next run names it again.
file(WRITE ${WORK}/inner.xml "<Config><EapTtls><Phase2Type>EAP-MSCHAPV2</Phase2Type></EapTtls></Config>")
run("" 0 out import inner.xml)
set(stored "warning: inner method: EAP-MSCHAPV2 \\(2\\) was stored as MSCHAPV2 \\(16\\)")
run("[config]\n" 3 out --strict configure inner.cdata)
expect("${out}" "${stored}")
run("[config]\n" 0 out configure inner.cdata)
expect("${out}" "${stored}")

# EAP-SIM: the template is stored (the module keeps no outer identity for
# SIM); without a SIM library no reader ever appears, and the smart-card
# dialog, told not to wait for one, reads as cancelled.
run("[config]\ntemplate=1{imsi}@wlan.example\n" 0 out configure sim.cdata --type sim)
expect("${out}" "identity: +\"1{imsi}@wlan.example\"")
run("[smartcard]\nreader=SIM Reader 0\nwait=0\npin=4711\n" 2 out identity sim.cdata)
expect("${out}" "no card in reader \"SIM Reader 0\"")
expect("${out}" "cancelled: no identity")

# An answers file runs out: the next dialog is cancelled.
run("" 2 out identity sim.cdata)
expect("${out}" "no section left for the smartcard dialog")

# Neither a terminal nor an answers file: cancelled, with the reason.
unset(ENV{VELTOEAP_DIALOG_ANSWERS})
execute_process(COMMAND setsid -w ${EAPCFG} identity ttls.cdata WORKING_DIRECTORY ${WORK}
                OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr RESULT_VARIABLE rc)
expect("${rc}: ${stderr}" "^2: authdialogs: no terminal to ask on")
message(STATUS "configure and identity as expected")
