# The description of the remote interface: paths, session id, methods.
foreach(name RestPaths_test SessionPragma_test RemoteMethods_test)
  qvr_test(${name} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
endforeach()
