# The index server's request decoder and session under libFuzzer + ASan/UBSan.
tn_add_fuzzer(idx_request_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/idx_request_fuzzer.cc
  LIBS tn_siftvault)

# A bounded run over the committed seeds (valid request streams); new inputs go to a scratch
# folder in the build tree.
set(idx_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/idx_request_corpus)
add_test(NAME idx_request_fuzz
  COMMAND sh -c "mkdir -p '${idx_fuzz_scratch}' && exec \"$0\" -runs=30000 -max_total_time=200 -max_len=2048 -rss_limit_mb=1024 -malloc_limit_mb=128 -seed=1 '${idx_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/idxstorage/data/corpus'"
          $<TARGET_FILE:idx_request_fuzzer>)
set_tests_properties(idx_request_fuzz PROPERTIES TIMEOUT 300)
