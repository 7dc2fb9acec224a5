# The HTTP object against a bare libcurl easy-handle loop on the same loopback server.
qvr_bench(RestHTTP_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestHTTP_bench.cpp
  LIBS qvrtestsupport CURL::libcurl)
