# PDF objects, file structure, filters and security handler under libFuzzer + ASan/UBSan.
tn_add_fuzzer(pdf_core_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/pdf_core_fuzzer.cc ${CMAKE_CURRENT_LIST_DIR}/pdf_core_entry.cc
  LIBS tn_pdfparser)

# A bounded run over the committed nasty inputs; new inputs go to a scratch folder in the
# build tree. Decoded streams stop at 64 MiB, so the malloc limit leaves room for one of them.
set(pdf_core_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/pdf_core_corpus)
add_test(NAME pdf_core_fuzz
  COMMAND sh -c "mkdir -p '${pdf_core_fuzz_scratch}' && exec \"$0\" -runs=20000 -max_total_time=200 -max_len=8192 -timeout=30 -rss_limit_mb=1024 -malloc_limit_mb=300 -seed=1 -dict='${CMAKE_SOURCE_DIR}/fuzz/pdf_core.dict' '${pdf_core_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/pdf/data/core_nasty'"
          $<TARGET_FILE:pdf_core_fuzzer>)
set_tests_properties(pdf_core_fuzz PROPERTIES TIMEOUT 600)
