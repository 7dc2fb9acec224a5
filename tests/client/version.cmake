# The version reader, and the data module's folders and version text.

# Built with a version of its own so that the readers' tests know what to find;
# 10.2.0.117 has numbers of one, two and three digits.
qvr_executable(QvrVersionProbe VERSION 10.2.0.117 ${CMAKE_CURRENT_LIST_DIR}/VersionProbe.cpp)

# qvr_version_test(<name> <source>): a client test that knows where the probe
# is (QVR_VERSION_PROBE) and which version the project's own executables carry
# (QVR_PROJECT_VERSION).
function(qvr_version_test name source)
  qvr_test(${name} SOURCES ${source} LIBS qvrtestsupport)
  add_dependencies(${name} QvrVersionProbe)
  target_compile_definitions(${name} PRIVATE
    QVR_VERSION_PROBE="$<TARGET_FILE:QvrVersionProbe>"
    QVR_PROJECT_VERSION="${PROJECT_VERSION}")
  # Unreadable files and folders that cannot be created only show their errors
  # to an ordinary user.
  qvr_test_as_user(${name})
endfunction()

qvr_version_test(uVersionInfoTest ${CMAKE_CURRENT_LIST_DIR}/uVersionInfo_test.cpp)
qvr_version_test(dBaseClienteRutasTest ${CMAKE_CURRENT_LIST_DIR}/dBaseCliente_rutas_test.cpp)
