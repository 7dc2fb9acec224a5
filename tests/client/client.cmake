qvr_test(dOpciones_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/dOpciones_test.cpp
         LIBS qvrtestsupport)
qvr_test(dBaseCliente_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/dBaseCliente_test.cpp
         LIBS qvrtestsupport TIMEOUT 60)
qvr_test(uGuardarConexion_test
         SOURCES ${CMAKE_CURRENT_LIST_DIR}/uGuardarConexion_test.cpp LIBS qvrtestsupport)
qvr_test_as_user(uGuardarConexion_test)
qvr_test(uGral_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uGral_test.cpp)
