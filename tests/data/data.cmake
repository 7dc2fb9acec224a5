# Tests of the dataset library, one per unit of data/.
foreach(name FieldValues_test FieldDefs_test Fields_test ResourceOptions_test DataSet_test
             BinStorage_test JSONStorage_test MemTable_test)
  qvr_test(${name} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
endforeach()
# A search through all names per name makes these run for tens of seconds; the
# near-linear code needs well under one, so a few seconds bound it generously
# (more under the sanitizers on a busy machine).
qvr_test(ManyColumns_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ManyColumns_test.cpp
         TIMEOUT 20)
