# Tests of the dataset-list blob layers and dataset lists (label datasets).
qvr_test(ZLibStreams_test
         SOURCES ${CMAKE_CURRENT_LIST_DIR}/ZLibStreams_test.cpp
         LIBS ZLIB::ZLIB)
qvr_test(DataSetJSONReflect_test
         SOURCES ${CMAKE_CURRENT_LIST_DIR}/DataSetJSONReflect_test.cpp LIBS ZLIB::ZLIB)
# Dataset-list documents stored as the blob coders of earlier versions wrote them.
target_compile_definitions(DataSetJSONReflect_test PRIVATE
  QVR_DATASET_SAMPLES="${CMAKE_CURRENT_LIST_DIR}/samples")
