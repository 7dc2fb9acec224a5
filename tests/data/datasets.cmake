# Tests of the dataset library (label datasets).
qvr_test(FieldValues_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/FieldValues_test.cpp)
qvr_test(FieldDefs_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/FieldDefs_test.cpp)
qvr_test(Fields_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/Fields_test.cpp)
qvr_test(ResourceOptions_test LABEL datasets
         SOURCES ${CMAKE_CURRENT_LIST_DIR}/ResourceOptions_test.cpp)
qvr_test(DataSet_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/DataSet_test.cpp)
qvr_test(BinStorage_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/BinStorage_test.cpp)
qvr_test(JSONStorage_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/JSONStorage_test.cpp)
qvr_test(MemTable_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/MemTable_test.cpp)
# A search through all names per name makes these run for tens of seconds; the
# near-linear code needs well under one, so a few seconds bound it generously.
qvr_test(ManyColumns_test LABEL datasets SOURCES ${CMAKE_CURRENT_LIST_DIR}/ManyColumns_test.cpp
         TIMEOUT 10)
