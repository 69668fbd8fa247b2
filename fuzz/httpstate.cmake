# The HTTP request-state reader under libFuzzer + ASan/UBSan.
tn_add_fuzzer(httpstate_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/httpstate_fuzzer.cc
  LIBS tn_httpfront)

# A bounded run from a few seed heads; new inputs go to a scratch folder in the build tree.
set(httpstate_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/httpstate_corpus)
add_test(NAME httpstate_fuzz
  COMMAND sh -c "mkdir -p '${httpstate_fuzz_scratch}' && exec \"$0\" -runs=100000 -max_total_time=200 -max_len=4096 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${httpstate_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/httpfront/data/corpus'"
          $<TARGET_FILE:httpstate_fuzzer>)
set_tests_properties(httpstate_fuzz PROPERTIES TIMEOUT 300)
