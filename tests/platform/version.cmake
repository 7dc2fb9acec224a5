# The platform services behind the client's folders and version text: the ELF
# note reader and the special-folder lookup, labelled with the client tests
# that rely on them. qvr_version_test comes from tests/client/version.cmake,
# which is read first.
qvr_version_test(ElfNoteTest ${CMAKE_CURRENT_LIST_DIR}/ElfNote_test.cpp)
qvr_test(ComputerInfoTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ComputerInfo_test.cpp)
