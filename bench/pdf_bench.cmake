tn_add_bench(pdf_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/pdf_bench.cc LIBS tn_pdfparser)
