# Tests of qvr, the command-line client (label cli): its units linked in, and
# the program itself run as a user runs it, against the real qvr-server in a
# temporary folder and inside a real terminal (tmux).
foreach(name CsvReader_test Output_test Arguments_test Progress_test CommandTable_test)
  qvr_test(${name} SOURCES ${CMAKE_CURRENT_LIST_DIR}/qvr/${name}.cpp LIBS qvrcli)
endforeach()

foreach(name QvrConfig_test QvrCalls_test QvrCatalogue_test QvrCompletion_test QvrTerminal_test)
  qvr_test(${name} SOURCES ${CMAKE_CURRENT_LIST_DIR}/qvr/${name}.cpp
           LIBS qvrcli qvrservertestsupport PkgConfig::SQLITE3 TIMEOUT 300)
  target_compile_definitions(${name} PRIVATE QVR_EXE="$<TARGET_FILE:qvr>")
  add_dependencies(${name} qvr)
  qvr_test_as_user(${name})
endforeach()
# The completion script the package installs, run by bash.
target_compile_definitions(QvrCompletion_test
                           PRIVATE QVR_COMPLETION="${CMAKE_SOURCE_DIR}/packaging/qvr.bash-completion")
