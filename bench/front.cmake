# The server's HTTP front: EchoString against nginx serving the same bytes as
# a static file (wrk, 16 and 256 connections), and a legitimate client's
# latency under 256 slow clients.
if(TARGET qvrservertestsupport)
  qvr_bench(ServerFront_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServerFront_bench.cpp
            LIBS qvrservertestsupport)
  add_dependencies(ServerFront_bench qvr-server)
endif()
