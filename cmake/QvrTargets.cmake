# Helpers that every executable of the project goes through, so that what all
# of them carry (output folder, version note) is decided in one place.

set(QVR_VERSION_NOTE_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/QvrVersionNote.cpp.in)

# qvr_version_note_source(<out-var> <version>): the generated source that puts
# <version> (one to four dotted numbers, each at most 65535; missing ones are 0)
# in an ELF note of the executable it is linked into. One file per version,
# shared by every executable carrying that version.
function(qvr_version_note_source out_var version)
  if(NOT version MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
    message(FATAL_ERROR "Version '${version}' is not one to four dotted numbers")
  endif()
  string(REPLACE "." ";" parts "${version}")
  list(LENGTH parts count)
  while(count LESS 4)
    list(APPEND parts 0)
    math(EXPR count "${count} + 1")
  endwhile()
  foreach(part IN LISTS parts)
    # The version reader keeps each number in 16 bits, as the note does.
    if(part GREATER 65535)
      message(FATAL_ERROR "Version '${version}': ${part} does not fit in 16 bits")
    endif()
  endforeach()
  list(GET parts 0 QVR_NOTE_MAJOR)
  list(GET parts 1 QVR_NOTE_MINOR)
  list(GET parts 2 QVR_NOTE_RELEASE)
  list(GET parts 3 QVR_NOTE_BUILD)
  # Normalised so that 01.2 and 1.2.0.0 share one file and no leading zero
  # reaches the assembler (which would read it as octal).
  foreach(name QVR_NOTE_MAJOR QVR_NOTE_MINOR QVR_NOTE_RELEASE QVR_NOTE_BUILD)
    math(EXPR ${name} "${${name}}")
  endforeach()
  set(out ${CMAKE_BINARY_DIR}/qvr-version-note/VersionNote-${QVR_NOTE_MAJOR}.${QVR_NOTE_MINOR}.${QVR_NOTE_RELEASE}.${QVR_NOTE_BUILD}.cpp)
  configure_file(${QVR_VERSION_NOTE_TEMPLATE} ${out} @ONLY)
  set(${out_var} ${out} PARENT_SCOPE)
endfunction()

# qvr_executable(<target> [VERSION <version>] <sources>...): an executable in
# build/bin carrying a version note. The version is the project's (set once, in
# the root CMakeLists.txt) unless VERSION names another, which only tests of the
# version reader need.
function(qvr_executable target)
  cmake_parse_arguments(E "" "VERSION" "" ${ARGN})
  if(NOT E_VERSION)
    set(E_VERSION ${PROJECT_VERSION})
  endif()
  qvr_version_note_source(note ${E_VERSION})
  # Compiled once per version; its object file belongs to each executable
  # itself, not to an archive, so the linker always takes it in.
  get_filename_component(note_name ${note} NAME)
  string(REPLACE "." "_" note_target "qvr-${note_name}")
  if(NOT TARGET ${note_target})
    add_library(${note_target} OBJECT ${note})
  endif()
  add_executable(${target} ${E_UNPARSED_ARGUMENTS} $<TARGET_OBJECTS:${note_target}>)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endfunction()

# qvr_test_label(<out-var> <source>): the label of a test, after the folder
# of its (first) source, which mirrors the folder of what it tests: the layer
# (platform, data, json, http, datasets, wire, rest, config, client), or gui
# (app/), cli (tools/qvr/), server, fuzz.
function(qvr_test_label out_var source)
  get_filename_component(folder ${source} DIRECTORY)
  file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR}/tests ${folder})
  if(relative MATCHES "^rest/([a-z]+)")
    set(label ${CMAKE_MATCH_1})
  elseif(relative MATCHES "^tools(/|$)")
    set(label cli)
  else()
    string(REGEX REPLACE "/.*" "" label "${relative}")
  endif()
  set(${out_var} ${label} PARENT_SCOPE)
endfunction()

# qvr_test(<name> SOURCES <files>... [LABEL <label>] [LIBS <libs>...] [ENV <k=v>...])
# A GoogleTest executable linked with the core, registered with CTest under
# the label of its folder (qvr_test_label, unless LABEL names another) so
# that one area can be run alone (ctest -L <label>).
function(qvr_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT T_LABEL)
    list(GET T_SOURCES 0 first)
    qvr_test_label(T_LABEL ${first})
  endif()
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

# qvr_imported_location(<var> <imported target>): the library file behind an
# imported target.
function(qvr_imported_location var target)
  get_target_property(location ${target} IMPORTED_LOCATION)
  if(NOT location)
    get_target_property(location ${target} IMPORTED_LOCATION_RELEASE)
  endif()
  if(NOT location)
    get_target_property(location ${target} LOCATION)
  endif()
  set(${var} ${location} PARENT_SCOPE)
endfunction()

# qvr_soname(<var> <imported target>): the SONAME of the shared library behind
# an imported target, read from its dynamic section, for loading it by name at
# run time.
function(qvr_soname var target)
  qvr_imported_location(location ${target})
  execute_process(COMMAND objdump -p ${location} OUTPUT_VARIABLE dynamic ERROR_QUIET)
  string(REGEX MATCH "SONAME +([^\n]+)" _ "${dynamic}")
  if(NOT CMAKE_MATCH_1)
    message(FATAL_ERROR "no SONAME found for ${target} (${location})")
  endif()
  string(STRIP "${CMAKE_MATCH_1}" soname)
  set(${var} ${soname} PARENT_SCOPE)
endfunction()
