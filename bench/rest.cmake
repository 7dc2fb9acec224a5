# The REST exchange against the bare HTTP request, both on a stand-in server on
# 127.0.0.1 (the tests' support library provides it).
if(TARGET qvrtestsupport)
  qvr_bench(RestConnection_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestConnection_bench.cpp
            LIBS qvrtestsupport)
endif()
