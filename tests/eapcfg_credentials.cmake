# eapcfg fields and userblob on records made from the examples: the fields
# asked for per credential source, and the user record built from typed
# values, shown without a plain password or PIN.
#   -DEAPCFG=... -DEMULATOR=... (empty on Linux) -DEXAMPLES=dir -DWORK=dir -DWINDOWS=0|1
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

include(${CMAKE_CURRENT_LIST_DIR}/eapcfg_run.cmake)

foreach(name ttls-prompt ttls-saved sim)
  file(COPY ${EXAMPLES}/${name}.xml DESTINATION ${WORK})
  eapcfg(ignored import ${name}.xml -o ${name}.cdata)
endforeach()

# Prompting asks for the network user name and password; saved credentials
# for the plain ones.
eapcfg(out fields ttls-prompt.cdata)
expect("${out}" "field 1: \"Username\", network user name \\(2\\), shown, at most 60")
expect("${out}" "field 2: \"Password\", network password \\(3\\), hidden, at most 100")
eapcfg(out fields ttls-saved.cdata)
expect("${out}" "field 1: \"Username\", user name \\(0\\)")

# Typed values become the user record; the password is sealed and not shown.
eapcfg(out userblob ttls-prompt.cdata --field Username=alice --field "Password=typed secret")
expect("${out}" "user identity: +\"alice\"")
expect("${out}" "password: +sealed, stored form")
if(out MATCHES "typed secret")
  message(FATAL_ERROR "the password was shown:\n${out}")
endif()
# Saved credentials take the record's own identity, whatever is typed.
eapcfg(out userblob ttls-saved.cdata --field Username=mallory)
expect("${out}" "user identity: +\"CORP\\\\alice\"")
# Labels of another language are not the module's: nothing is taken.
eapcfg(out userblob ttls-prompt.cdata --field Benutzername=alice)
expect("${out}" "user identity: +\"\"")

if(NOT WINDOWS)
  # No SIM library here: the card watch finds no SIM, so nothing is asked.
  # (On Windows a missing simcore.dll is the platform's delay-load exception.)
  eapcfg(out fields sim.cdata)
  expect("${out}" "no fields: no SIM is present")
  # No registry to read the SIM reader's name from: the key and value are named.
  set(ENV{VELTOEAP_REGISTRY_ROOT} /dev/null/registry)
  execute_process(COMMAND ${EAPCFG} userblob sim.cdata --field PIN=1234 WORKING_DIRECTORY ${WORK}
                  ERROR_VARIABLE err RESULT_VARIABLE rc)
  expect("${rc}: ${err}" "^1: eapcfg: error 1359: .*key HKEY_LOCAL_MACHINE.SOFTWARE.Velto.Wireless, value SsoSimReader")
  unset(ENV{VELTOEAP_REGISTRY_ROOT})
endif()
message(STATUS "fields and userblob as expected")
