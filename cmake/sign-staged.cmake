# Run by cpack after it has staged the files of a package: signs the program
# and its language libraries there, so that both packages carry signed copies.
file(GLOB_RECURSE staged "${CPACK_TEMPORARY_DIRECTORY}/*.exe" "${CPACK_TEMPORARY_DIRECTORY}/*.dll")
if(NOT staged)
    message(FATAL_ERROR "nothing to sign in ${CPACK_TEMPORARY_DIRECTORY}")
endif()
execute_process(COMMAND "${CPACK_SPINDLEBAY_SIGN_SCRIPT}" ${staged} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "signing failed: ${staged}")
endif()
