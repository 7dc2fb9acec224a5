qvr_test(uConfigClient_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uConfigClient_test.cpp
         LIBS qvrtestsupport)
qvr_test_as_user(uConfigClient_test)
