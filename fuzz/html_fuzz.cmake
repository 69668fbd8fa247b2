tn_add_fuzzer(html_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/html_fuzz.cc LIBS tn_parsers)
