# The three query syntaxes over hostile texts under libFuzzer + ASan/UBSan. The parsers' source
# is built in directly so that the target does not pull in the whole daemon core.
tn_add_fuzzer(api_query_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/api_query_fuzzer.cc ${CMAKE_SOURCE_DIR}/src/apiops/api-query.cc
  LIBS tn_util)

# A bounded run over the committed seeds; new inputs go to a scratch folder in the build tree.
set(api_query_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/api_query_corpus)
add_test(NAME api_query_fuzz
  COMMAND sh -c "mkdir -p '${api_query_fuzz_scratch}' && exec \"$0\" -runs=200000 -max_total_time=200 -max_len=4096 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${api_query_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/query/data/query_corpus'"
          $<TARGET_FILE:api_query_fuzzer>)
set_tests_properties(api_query_fuzz PROPERTIES TIMEOUT 300)
