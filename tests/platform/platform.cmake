qvr_test(SysUtils_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/SysUtils_test.cpp)
qvr_test(IniFile_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniFile_test.cpp
         LIBS qvrtestsupport)
qvr_test(Utf_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/Utf_test.cpp)
qvr_test_as_user(IniFile_test)
qvr_test(IniFileSharing_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniFileSharing_test.cpp
         LIBS qvrtestsupport ${CMAKE_DL_LIBS})
qvr_test_as_user(IniFileSharing_test)
qvr_test(Base64Encoding_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/Base64Encoding_test.cpp)
qvr_test(StrUtils_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/StrUtils_test.cpp)
qvr_test(Charset_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/Charset_test.cpp TIMEOUT 60)
