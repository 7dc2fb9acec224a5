# The HTTP object against loopback servers the tests start on 127.0.0.1.
qvr_test(RestHTTP_test LABEL http
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/http/RestHTTP_test.cpp
  LIBS qvrtestsupport
  TIMEOUT 120)
qvr_test_as_user(RestHTTP_test)
qvr_test(RestHTTPProgress_test LABEL http
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/http/RestHTTPProgress_test.cpp
  LIBS qvrtestsupport
  TIMEOUT 120)
