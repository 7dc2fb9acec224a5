# JSON values, their text form and marshalled objects.
qvr_test(JSONValues_test LABEL json SOURCES ${CMAKE_CURRENT_LIST_DIR}/json/JSONValues_test.cpp)
qvr_test(JSONText_test LABEL json SOURCES ${CMAKE_CURRENT_LIST_DIR}/json/JSONText_test.cpp)
qvr_test(JSONReflect_test LABEL json SOURCES ${CMAKE_CURRENT_LIST_DIR}/json/JSONReflect_test.cpp)
qvr_test(uGral_test LABEL json SOURCES ${CMAKE_SOURCE_DIR}/tests/client/uGral_test.cpp)
# The marshalled classes registered in a program that knows them only
# through their headers (an executable of its own, see the test's banner).
qvr_test(HeaderOnlyRegistration_test LABEL json
         SOURCES ${CMAKE_CURRENT_LIST_DIR}/json/HeaderOnlyRegistration_test.cpp)
# The parser against a reader written apart from it from the JSON grammar.
qvr_test(JSONParser_test LABEL json SOURCES ${CMAKE_CURRENT_LIST_DIR}/json/JSONParser_test.cpp)
