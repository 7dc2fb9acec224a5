# REST connection, request/response and the charset layer under them. Every
# test talks to a stand-in server (tests/support/StandInServer.h) on 127.0.0.1.
qvr_test(RestConnection_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestConnection_test.cpp
         LIBS qvrtestsupport TIMEOUT 120)
qvr_test(RestRequest_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestRequest_test.cpp
         LIBS qvrtestsupport TIMEOUT 120)
qvr_test(StandInServer_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/StandInServer_test.cpp
         LIBS qvrtestsupport TIMEOUT 60)
qvr_test(RestParameters_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestParameters_test.cpp
         TIMEOUT 60)
qvr_test(RestCommand_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestCommand_test.cpp
         LIBS qvrtestsupport TIMEOUT 120)
qvr_test(ProxyRest_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProxyRest_test.cpp
         LIBS qvrtestsupport TIMEOUT 60)
qvr_test(RestCachedItem_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestCachedItem_test.cpp
         LIBS qvrtestsupport TIMEOUT 120)
qvr_test(uClientClasses_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uClientClasses_test.cpp
         LIBS qvrtestsupport TIMEOUT 120)
qvr_test(ClientGuide_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ClientGuide_test.cpp
         LIBS qvrtestsupport TIMEOUT 60)
