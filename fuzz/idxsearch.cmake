# Result summaries of stored FFF blobs and the index server's query building, under
# libFuzzer + ASan/UBSan.
tn_add_fuzzer(idxsearch_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/idxsearch_fuzzer.cc
  LIBS tn_idxstorage tn_siftvault)

# A bounded run from an empty corpus; new inputs go to a scratch folder in the build tree.
set(idxsearch_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/idxsearch_corpus)
add_test(NAME idxsearch_fuzz
  COMMAND sh -c "mkdir -p '${idxsearch_fuzz_scratch}' && exec \"$0\" -runs=30000 -max_total_time=200 -max_len=2048 -rss_limit_mb=1024 -seed=1 '${idxsearch_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/idxstorage/data/idxsearch_corpus'"
          $<TARGET_FILE:idxsearch_fuzzer>)
set_tests_properties(idxsearch_fuzz PROPERTIES TIMEOUT 300)
