# JSON text: parse into the value classes and compact writing, against
# RapidJSON doing the same work (in-place parse with numbers kept as text, its
# writer with raw numbers) on an object-heavy and a dataset-list document.
qvr_bench(JSON_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/JSON_bench.cpp)
target_include_directories(JSON_bench PRIVATE ${RAPIDJSON_INCLUDE_DIR})
