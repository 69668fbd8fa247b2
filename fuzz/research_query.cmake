# The research-pane packet reader under libFuzzer + ASan/UBSan.
tn_add_fuzzer(research_query_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/research_query_fuzzer.cc
  LIBS tn_webservices)

# A bounded run from the committed packets; new inputs go to a scratch folder in the build tree.
set(research_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/research_query_corpus)
add_test(NAME research_query_fuzz
  COMMAND sh -c "mkdir -p '${research_fuzz_scratch}' && exec \"$0\" -runs=100000 -max_total_time=200 -max_len=4096 -rss_limit_mb=512 -malloc_limit_mb=128 -seed=1 -dict='${CMAKE_CURRENT_LIST_DIR}/research_query.dict' '${research_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/research/data/corpus'"
          $<TARGET_FILE:research_query_fuzzer>)
set_tests_properties(research_query_fuzz PROPERTIES TIMEOUT 300)
