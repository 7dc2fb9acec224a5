# qvr-server's Negotiate (label sso): a Kerberos realm the test starts on
# 127.0.0.1, the real server program, and the qvr program with an empty UID.
qvr_test(ServerNegotiate_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServerNegotiate_test.cpp
         LABEL sso LIBS qvrservertestsupport PkgConfig::SQLITE3 TIMEOUT 300)
target_compile_definitions(ServerNegotiate_test PRIVATE QVR_EXE="$<TARGET_FILE:qvr>")
add_dependencies(ServerNegotiate_test qvr)
qvr_test_as_user(ServerNegotiate_test)
