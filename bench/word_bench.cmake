tn_add_bench(word_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/word_bench.cc LIBS tn_parsers tn_wvadapter)
