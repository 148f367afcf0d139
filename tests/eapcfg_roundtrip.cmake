# eapcfg import, export, import on every example: the two records must read
# the same (eapcfg show), and the second document must carry no plain
# password; then the same through a WLAN profile. Runs the tool as a user
# would, under Wine on Windows.
#   -DEAPCFG=... -DEMULATOR=... (empty on Linux) -DEXAMPLES=dir -DWORK=dir
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(GLOB examples ${EXAMPLES}/*.xml)
if(NOT examples)
  message(FATAL_ERROR "no examples in ${EXAMPLES}")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/eapcfg_run.cmake)

foreach(example IN LISTS examples)
  get_filename_component(name ${example} NAME_WE)
  file(COPY ${example} DESTINATION ${WORK})
  eapcfg(ignored import ${name}.xml -o ${name}.1.cdata)
  eapcfg(xml export ${name}.1.cdata)
  file(WRITE ${WORK}/${name}.2.xml "${xml}")
  eapcfg(ignored import ${name}.2.xml -o ${name}.2.cdata)
  eapcfg(first show ${name}.1.cdata)
  eapcfg(second show ${name}.2.cdata)
  if(NOT first STREQUAL second)
    message(FATAL_ERROR "${name}: the record changed over export and import\n${first}\n---\n${second}")
  endif()
  if(xml MATCHES "<password encrypted=.false.>[^N]")
    message(FATAL_ERROR "${name}: the exported XML carries a plain password:\n${xml}")
  endif()
  message(STATUS "${name}: same record after export and import")
endforeach()

# A WLAN profile made from each record carries its configuration whole: the
# import reads the profile back to the same record.
foreach(example IN LISTS examples)
  get_filename_component(name ${example} NAME_WE)
  eapcfg(ignored wlan-profile ${name}.wlan.xml --ssid "Corp & Lab" --record ${name}.1.cdata)
  eapcfg(ignored import ${name}.wlan.xml -o ${name}.3.cdata)
  eapcfg(first show ${name}.1.cdata)
  eapcfg(third show ${name}.3.cdata)
  if(NOT first STREQUAL third)
    message(FATAL_ERROR "${name}: the record changed over a WLAN profile\n${first}\n---\n${third}")
  endif()
endforeach()
