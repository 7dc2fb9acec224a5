# The version reader, and the data module's folders and version text.

# Built with a version of its own so that the readers' tests know what to find;
# 10.2.0.117 has numbers of one, two and three digits.
qvr_executable(QvrVersionProbe VERSION 10.2.0.117 ${CMAKE_CURRENT_LIST_DIR}/VersionProbe.cpp)

# qvr_version_test_paths(<test>): tells a test where the probe is and which
# version the project's own executables carry.
function(qvr_version_test_paths name)
  add_dependencies(${name} QvrVersionProbe)
  target_compile_definitions(${name} PRIVATE
    QVR_VERSION_PROBE="$<TARGET_FILE:QvrVersionProbe>"
    QVR_PROJECT_VERSION="${PROJECT_VERSION}")
endfunction()

qvr_test(uVersionInfoTest LABEL client
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/uVersionInfo_test.cpp
  LIBS qvrtestsupport)
qvr_version_test_paths(uVersionInfoTest)

qvr_test(dBaseClienteRutasTest LABEL client
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dBaseCliente_rutas_test.cpp
  LIBS qvrtestsupport)
qvr_version_test_paths(dBaseClienteRutasTest)
