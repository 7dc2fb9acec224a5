qvr_test(dOpciones_test LABEL client SOURCES ${CMAKE_CURRENT_LIST_DIR}/dOpciones_test.cpp
         LIBS qvrtestsupport)
