# The fuzz targets, one line each (see cmake/QvrFuzz.cmake): every parser that
# reads outside input. Seed corpora are in corpus/<NAME>, inputs that once
# crashed in regressions/<NAME>.
qvr_fuzz_target(IniFile SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniFile_fuzz.cpp)
qvr_fuzz_target(ElfNote SOURCES ${CMAKE_CURRENT_LIST_DIR}/ElfNote_fuzz.cpp)
qvr_fuzz_target(BinStorage SOURCES ${CMAKE_CURRENT_LIST_DIR}/BinStorage_fuzz.cpp)
qvr_fuzz_target(JSONStorage SOURCES ${CMAKE_CURRENT_LIST_DIR}/JSONStorage_fuzz.cpp)
qvr_fuzz_target(JSONText SOURCES ${CMAKE_CURRENT_LIST_DIR}/JSONText_fuzz.cpp)
qvr_fuzz_target(JSONUnMarshal SOURCES ${CMAKE_CURRENT_LIST_DIR}/JSONUnMarshal_fuzz.cpp)
qvr_fuzz_target(DataSetList SOURCES ${CMAKE_CURRENT_LIST_DIR}/DataSetList_fuzz.cpp)
qvr_fuzz_target(DataSetBlob SOURCES ${CMAKE_CURRENT_LIST_DIR}/DataSetBlob_fuzz.cpp)
qvr_fuzz_target(SessionID SOURCES ${CMAKE_CURRENT_LIST_DIR}/SessionID_fuzz.cpp)
qvr_fuzz_target(Charset SOURCES ${CMAKE_CURRENT_LIST_DIR}/Charset_fuzz.cpp)
qvr_fuzz_target(RequestParser SOURCES ${CMAKE_CURRENT_LIST_DIR}/RequestParser_fuzz.cpp LIBS qvrserver)
