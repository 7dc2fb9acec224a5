# The command layer against the bare exchange and the bare JSON writer.
if(TARGET qvrtestsupport)
  qvr_bench(RestCommand_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestCommand_bench.cpp
            LIBS qvrtestsupport)
endif()
if(TARGET qvrtestsupport)
  qvr_bench(RestCachedItem_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestCachedItem_bench.cpp
            LIBS qvrtestsupport)
endif()
if(TARGET qvrtestsupport)
  qvr_bench(uClientClasses_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/uClientClasses_bench.cpp
            LIBS qvrtestsupport CURL::libcurl ZLIB::ZLIB)
endif()
