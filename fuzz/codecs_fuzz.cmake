# Text codecs and URLs under libFuzzer + ASan/UBSan.
tn_add_fuzzer(codecs_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/codecs_fuzz.cc LIBS tn_util)

# A bounded run over the committed seeds; new inputs go to a scratch folder in the build tree.
set(codecs_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/codecs_corpus)
add_test(NAME codecs_fuzz
  COMMAND sh -c "mkdir -p '${codecs_fuzz_scratch}' && exec \"$0\" -runs=100000 -max_total_time=200 -max_len=2048 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 -dict='${CMAKE_CURRENT_LIST_DIR}/codecs_fuzz.dict' '${codecs_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/codecs/data/fuzz_seeds'"
          $<TARGET_FILE:codecs_fuzz>)
set_tests_properties(codecs_fuzz PROPERTIES TIMEOUT 300)
