# Start-up of the options utility against a minimal Qt window program.
qvr_executable(QVROpcionesStartupProbe ${CMAKE_SOURCE_DIR}/app/QVROpciones.cpp)
target_link_libraries(QVROpcionesStartupProbe PRIVATE qvrapp)
target_compile_definitions(QVROpcionesStartupProbe PRIVATE QVR_STARTUP_PROBE)
set_target_properties(QVROpcionesStartupProbe PROPERTIES EXCLUDE_FROM_ALL TRUE)

qvr_executable(MinimalQtWindowProbe ${CMAKE_CURRENT_LIST_DIR}/MinimalQtWindow.cpp)
target_link_libraries(MinimalQtWindowProbe PRIVATE Qt6::Widgets)
set_target_properties(MinimalQtWindowProbe PROPERTIES EXCLUDE_FROM_ALL TRUE)

qvr_bench(Startup_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/Startup_bench.cpp)
add_dependencies(Startup_bench QVROpcionesStartupProbe MinimalQtWindowProbe)
