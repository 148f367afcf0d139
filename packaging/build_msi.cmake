# Builds the MSI from veltoeap.wxs with wixl, then sets what wixl 0.101 cannot
# express with msibuild (msitools):
#   cmake -DVERSION=X.Y.Z -DBINDIR=dir -DAUTHOR_ID=N -DOUT=file.msi [-DWIXL=... -DMSIBUILD=...]
#         -P build_msi.cmake
# The product code follows from the version: a rebuilt package of one version
# is the same product (a second entry beside it would be one too many), and
# each version is a new product that replaces the last (major upgrade).
if(NOT WIXL)
  set(WIXL wixl)
endif()
if(NOT MSIBUILD)
  set(MSIBUILD msibuild)
endif()
set(upgrade_code A45E162C-3FE7-41D2-B300-13CA73FB15C6)
string(UUID product_code NAMESPACE ${upgrade_code} NAME "veltoeap-${VERSION}" TYPE SHA1 UPPER)
get_filename_component(out ${OUT} ABSOLUTE)
file(REMOVE ${out})
# wixl takes sources relative to the working folder.
execute_process(COMMAND ${WIXL} -a x64 -D Version=${VERSION} -D ProductCode=${product_code}
                        -D AuthorId=${AUTHOR_ID} -D BinDir=. -o ${out} ${CMAKE_CURRENT_LIST_DIR}/veltoeap.wxs
                WORKING_DIRECTORY ${BINDIR} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT EXISTS ${out})
  message(FATAL_ERROR "wixl failed (${rc})")
endif()
# The authentication half is registered only when AUTH_DLL names its module
# (wixl has no component conditions); the public properties pass from the
# client to the elevated install (wixl has no Secure attribute).
execute_process(COMMAND ${MSIBUILD} ${out} -q
  "UPDATE `Component` SET `Condition` = 'AUTH_DLL' WHERE `Component` = 'Auth'"
  RESULT_VARIABLE rc)
if(rc EQUAL 0)
  execute_process(COMMAND ${MSIBUILD} ${out} -q
    "UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;AUTH_DLL;AUTH_PROPERTIES_18;AUTH_PROPERTIES_21;AUTH_PROPERTIES_23' WHERE `Property` = 'SecureCustomProperties'"
    RESULT_VARIABLE rc)
endif()
if(NOT rc EQUAL 0)
  file(REMOVE ${out})
  message(FATAL_ERROR "msibuild failed (${rc})")
endif()
