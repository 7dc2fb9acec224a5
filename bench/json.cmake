# JSON text: parse into the value classes and compact writing, against
# RapidJSON's own document parse and writer on the same text.
qvr_bench(JSON_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/JSON_bench.cpp)
target_include_directories(JSON_bench PRIVATE ${RAPIDJSON_INCLUDE_DIR})
