# The HTTP object against loopback servers the tests start on 127.0.0.1.
qvr_test(RestHTTP_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestHTTP_test.cpp
  LIBS qvrtestsupport
  TIMEOUT 120)
qvr_test_as_user(RestHTTP_test)
# https through a real forward proxy (tinyproxy, which scripts/install-deps
# installs; the test skips with a message without it).
qvr_test(RestHTTPProxyTunnel_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestHTTPProxyTunnel_test.cpp
  LIBS qvrtestsupport
  TIMEOUT 120)
qvr_test_as_user(RestHTTPProxyTunnel_test)
# What a server can make the HTTP object hold.
qvr_test(RestHTTPLimits_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestHTTPLimits_test.cpp
  LIBS qvrtestsupport
  TIMEOUT 120)
qvr_test(RestHTTPProgress_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestHTTPProgress_test.cpp
  LIBS qvrtestsupport
  TIMEOUT 120)
