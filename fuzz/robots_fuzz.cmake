# robots.txt rules under libFuzzer + ASan/UBSan.
tn_add_fuzzer(robots_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/robots_fuzz.cc LIBS tn_robotschecker)

# A bounded run over the committed real-world and nasty texts; new inputs go to a scratch folder.
set(robots_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/robots_corpus)
add_test(NAME robots_fuzz
  COMMAND sh -c "mkdir -p '${robots_fuzz_scratch}' && exec \"$0\" -runs=100000 -max_total_time=200 -max_len=8192 -rss_limit_mb=512 -malloc_limit_mb=128 -seed=1 -dict='${CMAKE_CURRENT_LIST_DIR}/robots_fuzz.dict' '${robots_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/robots/data/real' '${CMAKE_SOURCE_DIR}/tests/robots/data/nasty'"
          $<TARGET_FILE:robots_fuzz>)
set_tests_properties(robots_fuzz PROPERTIES TIMEOUT 300)
