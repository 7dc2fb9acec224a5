# Tests of the dataset library (label datasets).
qvr_test(DataSet_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/DataSet_test.cpp)
qvr_test(BinStorage_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/BinStorage_test.cpp)
qvr_test(JSONStorage_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/JSONStorage_test.cpp)
qvr_test(MemTable_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/MemTable_test.cpp)
