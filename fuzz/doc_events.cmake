# The Word reader's event replay and header checks under libFuzzer + ASan/UBSan.
tn_add_fuzzer(doc_events_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/doc_events_fuzzer.cc
  LIBS tn_parsers)

# A bounded run over the committed seeds (event streams of the fixtures, a compound-file head,
# a file information block); new inputs go to a scratch folder in the build tree.
set(doc_events_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/doc_events_corpus)
add_test(NAME doc_events_fuzz
  COMMAND sh -c "mkdir -p '${doc_events_fuzz_scratch}' && exec \"$0\" -runs=200000 -max_total_time=200 -max_len=4096 -timeout=10 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${doc_events_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/doc/data/fuzz-seeds'"
          $<TARGET_FILE:doc_events_fuzzer>)
set_tests_properties(doc_events_fuzz PROPERTIES TIMEOUT 300)
