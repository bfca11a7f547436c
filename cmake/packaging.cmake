# The release: a portable zip and an NSIS installer, both holding the five
# files of the program folder and nothing else. `cmake --build . --target
# package` leaves Spindlebay-<version>-win64.zip and
# Spindlebay-<version>-win64-setup.exe in the build folder.
install(PROGRAMS $<TARGET_FILE:sbay> DESTINATION .)
install(FILES $<TARGET_FILE:sbay_6_eng> $<TARGET_FILE:sbay_6_rus>
    ${DIST_DIR}/diskinside.wav ${DIST_DIR}/readme.txt DESTINATION .)

set(CPACK_PACKAGE_NAME Spindlebay)
set(CPACK_PACKAGE_VENDOR Spindlebay)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CD and DVD drives in the notification area")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Spindlebay)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Spindlebay)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_GENERATOR "ZIP;NSIS")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
# Extracting the zip gives one folder, Spindlebay-<version>-win64, rather
# than five loose files among whatever else sits in Downloads.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# The installer is our own script (cmake/NSIS.template.in): CPack's stock one
# would add a PATH page, ask to uninstall first and knows nothing of the
# running program, its Run value or its service.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_SOURCE_DIR}/cmake)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
set(CPACK_NSIS_SPINDLEBAY_ICON ${CMAKE_SOURCE_DIR}/resources/art/app.ico)
set(CPACK_NSIS_SPINDLEBAY_OPEN_AS_USER ${CMAKE_SOURCE_DIR}/cmake/open_as_user.nsh)
set(CPACK_NSIS_URL_INFO_ABOUT ${SPINDLEBAY_UPDATE_SITE})
# Signing (scripts/sign.sh) happens only when the environment names a
# certificate: the staged program and libraries before either package is
# made, the uninstaller before makensis packs it, the installer last.
set(CPACK_SPINDLEBAY_SIGN_SCRIPT ${CMAKE_SOURCE_DIR}/scripts/sign.sh)
set(CPACK_SPINDLEBAY_SIGN_STAGED ${CMAKE_SOURCE_DIR}/cmake/sign-staged.cmake)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectOptions.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} [[
# Read by cpack once per generator: the installer's name tells what it is.
if(CPACK_GENERATOR STREQUAL "NSIS")
    set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
if(NOT "$ENV{SPINDLEBAY_SIGN_PKCS12}" STREQUAL "")
    set(CPACK_PRE_BUILD_SCRIPTS "${CPACK_SPINDLEBAY_SIGN_STAGED}")
    set(sign "'\"${CPACK_SPINDLEBAY_SIGN_SCRIPT}\" \"%1\"' = 0")
    set(CPACK_NSIS_SPINDLEBAY_SIGNING "!uninstfinalize ${sign}\n!finalize ${sign}")
endif()
]])
include(CPack)
