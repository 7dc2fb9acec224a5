# Dataset lists: writing and reading the marshalled document against zlib
# alone, base64 speed, and the peak memory of reading.
qvr_bench(DataSetList_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/DataSetList_bench.cpp
          LIBS ZLIB::ZLIB OpenSSL::Crypto)
