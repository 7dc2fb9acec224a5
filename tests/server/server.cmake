# Tests of the reference attendance server (label server). Most start the real
# qvr-server program (tests/support/ServerProcess.h) on an ephemeral port of
# 127.0.0.1 with a temporary data folder and talk to it through a
# TRestConnection; the unit tests link the server's library. The tests of the
# PostgreSQL store start one PostgreSQL cluster per binary
# (tests/support/PostgresCluster.h), those of several instances a real load
# balancer (tests/support/HaproxyBalancer.h); both run as root and as an
# ordinary user.
target_compile_definitions(qvrtestsupport PRIVATE QVR_SERVER_EXE="$<TARGET_FILE:qvr-server>")
add_dependencies(qvrtestsupport qvr-server)

add_library(qvrservertestsupport STATIC ${CMAKE_CURRENT_LIST_DIR}/ServerCalls.cpp
                                        ${CMAKE_CURRENT_LIST_DIR}/StoreUnderTest.cpp
                                        ${CMAKE_CURRENT_LIST_DIR}/Floods.cpp)
target_include_directories(qvrservertestsupport PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(qvrservertestsupport PUBLIC qvrtestsupport qvrcore PRIVATE ZLIB::ZLIB)

foreach(name ServerMethods_test ServerSessions_test ServerCache_test ServerUpload_test
             ServerFront_test ServerTls_test ServerRobustness_test ServerDataModule_test
             ServerProxy_test ServerUsers_test)
  qvr_test(${name} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp
           LIBS qvrservertestsupport PkgConfig::SQLITE3 PkgConfig::HTTPLIB TIMEOUT 300)
endforeach()
# The user commands check who owns the database: as root and as a user.
qvr_test_as_user(ServerUsers_test)
# The PostgreSQL cluster runs as nobody under root, as the user otherwise.
qvr_test_as_user(ServerMethods_test)
foreach(name ServerInstances_test ServerFailover_test)
  qvr_test(${name} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp
           LIBS qvrservertestsupport qvrserver TIMEOUT 300)
  qvr_test_as_user(${name})
endforeach()
qvr_test(ServerUnits_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServerUnits_test.cpp
         LIBS qvrserver qvrtestsupport)

