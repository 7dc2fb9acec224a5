# Integrated authentication end to end (label sso): a Kerberos realm, Apache
# httpd and Squid that the tests start and stop on 127.0.0.1 (the packages
# come from scripts/install-deps; a missing one skips with its name).
qvr_test(RestHTTPSingleSignOn_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestHTTPSingleSignOn_test.cpp
  LABEL sso
  LIBS qvrtestsupport
  TIMEOUT 300)
qvr_test_as_user(RestHTTPSingleSignOn_test)
