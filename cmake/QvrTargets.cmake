# Helpers that every executable of the project goes through, so that what all
# of them carry (output folder, version note) is decided in one place.

# qvr_executable(<target> <sources>...): an executable in build/bin.
function(qvr_executable target)
  add_executable(${target} ${ARGN})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endfunction()

# qvr_test(<name> LABEL <label> SOURCES <files>... [LIBS <libs>...] [ENV <k=v>...])
# A GoogleTest executable linked with the core, registered with CTest under
# <label> so that one area can be run alone (ctest -L <label>).
function(qvr_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  qvr_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE qvrcore GTest::gtest GTest::gmock GTest::gtest_main ${T_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT}
                       ENVIRONMENT "${T_ENV}")
endfunction()

# qvr_test_as_user(<name>): runs the test <name> a second time as an ordinary
# user (tests/run-as-user.sh), so that permission checks hold for both root
# and a desktop user.
function(qvr_test_as_user name)
  get_test_property(${name} LABELS labels)
  get_test_property(${name} ENVIRONMENT env)
  add_test(NAME ${name}_as_user COMMAND ${CMAKE_SOURCE_DIR}/tests/run-as-user.sh $<TARGET_FILE:${name}>)
  set_tests_properties(${name}_as_user PROPERTIES LABELS "${labels}" SKIP_RETURN_CODE 77
                       TIMEOUT 300)
  if(env)
    set_tests_properties(${name}_as_user PROPERTIES ENVIRONMENT "${env}")
  endif()
endfunction()
