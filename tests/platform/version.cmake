# The platform services behind the client's folders and version text: the ELF
# note reader and the special-folder lookup. Labelled with the client tests
# that rely on them. The probe and qvr_version_test_paths come from
# tests/client/version.cmake, which is read first.
qvr_test(ElfNoteTest LABEL client
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ElfNote_test.cpp
  LIBS qvrtestsupport)
qvr_version_test_paths(ElfNoteTest)

qvr_test(ComputerInfoTest LABEL client
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ComputerInfo_test.cpp
  LIBS qvrtestsupport)
