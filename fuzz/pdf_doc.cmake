# The whole PDF parse (front end, page tree, fonts, content streams) under libFuzzer + ASan/UBSan.
tn_add_fuzzer(pdf_doc_fuzzer SOURCES ${CMAKE_CURRENT_LIST_DIR}/pdf_doc_fuzzer.cc LIBS tn_pdfparser)

# A bounded run over the committed hostile documents; new inputs go to a scratch folder in the
# build tree.
set(pdf_doc_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/pdf_doc_corpus)
add_test(NAME pdf_doc_fuzz
  COMMAND sh -c "mkdir -p '${pdf_doc_fuzz_scratch}' && exec \"$0\" -runs=50000 -max_total_time=200 -max_len=16384 -timeout=30 -rss_limit_mb=1024 -malloc_limit_mb=400 -seed=1 -dict='${CMAKE_SOURCE_DIR}/fuzz/pdf_doc.dict' '${pdf_doc_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/pdf/data/doc_corpus'"
          $<TARGET_FILE:pdf_doc_fuzzer>)
set_tests_properties(pdf_doc_fuzz PROPERTIES TIMEOUT 600)
