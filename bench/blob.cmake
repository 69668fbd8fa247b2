tn_add_bench(blob_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/blob_bench.cc LIBS tn_docstorage ZLIB::ZLIB)
