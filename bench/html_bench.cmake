tn_add_bench(html_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/html_bench.cc LIBS tn_parsers)
