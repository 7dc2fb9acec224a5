# The fuzz targets, one line each (see cmake/QvrFuzz.cmake): every parser that
# reads outside input. Seed corpora are in corpus/<NAME>, inputs that once
# crashed in regressions/<NAME>.
qvr_fuzz_target(IniFile SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniFile_fuzz.cpp)
qvr_fuzz_target(ElfNote SOURCES ${CMAKE_CURRENT_LIST_DIR}/ElfNote_fuzz.cpp)
qvr_fuzz_target(BinStorage SOURCES ${CMAKE_CURRENT_LIST_DIR}/BinStorage_fuzz.cpp)
qvr_fuzz_target(JSONStorage SOURCES ${CMAKE_CURRENT_LIST_DIR}/JSONStorage_fuzz.cpp)
