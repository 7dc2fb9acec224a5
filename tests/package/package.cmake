# Tests of the Debian packages (label package). package_build makes them with
# CPack from this build, as `make package` does, into a folder of its own; the
# other tests need it (fixture QvrPackages): what the packages hold, lintian,
# the client programs run from their files under a temporary root, and a
# program outside the tree built against the installed core.
# The sanitizer build makes no packages (packaging/ is not part of it).
if(NOT TARGET qvr-package-files)
  return()
endif()

set(QVR_PACKAGE_TESTS ${CMAKE_CURRENT_LIST_DIR})
set(QVR_PACKAGE_OUT ${CMAKE_BINARY_DIR}/package-test)
# Whether the command-line client exists is known once every folder is read.
set(QVR_HAS_CLI $<TARGET_EXISTS:qvr>)

add_test(NAME package_build
         COMMAND ${QVR_PACKAGE_TESTS}/build-packages.sh ${CMAKE_CPACK_COMMAND}
                 ${CMAKE_BINARY_DIR}/CPackConfig.cmake ${QVR_PACKAGE_OUT})
set_tests_properties(package_build PROPERTIES FIXTURES_SETUP QvrPackages)

add_test(NAME package_contents
         COMMAND ${QVR_PACKAGE_TESTS}/check-contents.sh ${QVR_PACKAGE_OUT} ${PROJECT_VERSION}
                 ${QVR_APP_ID} ${CMAKE_LIBRARY_ARCHITECTURE} ${CMAKE_SOURCE_DIR} ${QVR_HAS_CLI})
add_test(NAME package_lintian COMMAND ${QVR_PACKAGE_TESTS}/run-lintian.sh ${QVR_PACKAGE_OUT})
add_test(NAME package_installed_programs
         COMMAND ${QVR_PACKAGE_TESTS}/run-installed.sh ${QVR_PACKAGE_OUT} ${QVR_HAS_CLI})
# And as an ordinary user, as on a desktop (tests/run-as-user.sh).
add_test(NAME package_installed_programs_as_user
         COMMAND ${CMAKE_SOURCE_DIR}/tests/run-as-user.sh ${QVR_PACKAGE_TESTS}/run-installed.sh
                 ${QVR_PACKAGE_OUT} ${QVR_HAS_CLI})
set_tests_properties(package_installed_programs_as_user PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME package_core_consumer
         COMMAND ${QVR_PACKAGE_TESTS}/consumer.sh ${QVR_PACKAGE_OUT} ${CMAKE_LIBRARY_ARCHITECTURE}
                 ${QVR_PACKAGE_TESTS}/consumer $<TARGET_FILE:qvr-server> ${CMAKE_COMMAND}
                 ${CMAKE_GENERATOR} ${CMAKE_MAKE_PROGRAM} ${CMAKE_CXX_COMPILER})
set(QVR_PACKAGE_CHECKS package_contents package_lintian package_installed_programs
    package_installed_programs_as_user package_core_consumer)
set_tests_properties(${QVR_PACKAGE_CHECKS} PROPERTIES FIXTURES_REQUIRED QvrPackages)
set_tests_properties(package_build ${QVR_PACKAGE_CHECKS} PROPERTIES LABELS package TIMEOUT 300)
