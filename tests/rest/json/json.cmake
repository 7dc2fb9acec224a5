# JSON values, their text form and marshalled objects.
qvr_test(JSONValues_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/JSONValues_test.cpp)
qvr_test(JSONText_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/JSONText_test.cpp)
qvr_test(JSONReflect_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/JSONReflect_test.cpp)
# The marshalled classes registered in a program that knows them only
# through their headers (an executable of its own, see the test's banner).
qvr_test(HeaderOnlyRegistration_test
         SOURCES ${CMAKE_CURRENT_LIST_DIR}/HeaderOnlyRegistration_test.cpp)
# The parser against a reader written apart from it from the JSON grammar.
qvr_test(JSONParser_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/JSONParser_test.cpp)
