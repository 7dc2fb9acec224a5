# Tests of the dataset-list blob layers and dataset lists (label datasets).
qvr_test(Base64Encoding_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/Base64Encoding_test.cpp)
qvr_test(ZLibStreams_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/ZLibStreams_test.cpp
         LIBS ZLIB::ZLIB)
qvr_test(DataSetJSONReflect_test LABEL datasets
         SOURCES ${CMAKE_CURRENT_LIST_DIR}/DataSetJSONReflect_test.cpp LIBS ZLIB::ZLIB)
