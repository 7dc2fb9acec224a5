# The reference attendance server: ListaPersonalCompleta with 200,000
# employees against the same bytes served as a static file by the same HTTP
# library, and on PostgreSQL against SQLite; and a load run of 16 clients
# mixing every method on SQLite, on PostgreSQL and on two PostgreSQL
# instances behind haproxy. Both start the real qvr-server
# (tests/support/ServerProcess.h) and a PostgreSQL cluster of their own
# (tests/support/PostgresCluster.h).
if(TARGET qvrservertestsupport)
  qvr_bench(ServerList_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServerList_bench.cpp
            LIBS qvrservertestsupport PkgConfig::HTTPLIB)
  qvr_bench(ServerLoad_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServerLoad_bench.cpp
            LIBS qvrservertestsupport PkgConfig::SQLITE3)
  add_dependencies(ServerList_bench qvr-server)
  add_dependencies(ServerLoad_bench qvr-server)
endif()
