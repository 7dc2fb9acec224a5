qvr_test(fMainOpciones_test LABEL gui
         SOURCES ${CMAKE_CURRENT_LIST_DIR}/fMainOpciones_test.cpp ${CMAKE_CURRENT_LIST_DIR}/GuiTestMain.cpp
         LIBS qvrapp qvrtestsupport Qt6::Test
         ENV QT_QPA_PLATFORM=offscreen QTEST_FUNCTION_TIMEOUT=60000)
qvr_test_as_user(fMainOpciones_test)
