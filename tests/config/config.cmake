qvr_test(uConfigClient_test LABEL config SOURCES ${CMAKE_CURRENT_LIST_DIR}/uConfigClient_test.cpp
         LIBS qvrtestsupport)
