# The URL filter over hostile URLs under libFuzzer + ASan/UBSan. The filter's source is built in
# directly so that the target does not pull in the whole daemon core.
tn_add_fuzzer(urlfilter_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/urlfilter_fuzzer.cc ${CMAKE_SOURCE_DIR}/src/trawlnestd/urlfilter.cc
  LIBS tn_api)

# A bounded run from an empty corpus; new inputs go to a scratch folder in the build tree.
set(urlfilter_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/urlfilter_corpus)
add_test(NAME urlfilter_fuzz
  COMMAND sh -c "mkdir -p '${urlfilter_fuzz_scratch}' && exec \"$0\" -runs=100000 -max_total_time=200 -max_len=2048 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${urlfilter_fuzz_scratch}'"
          $<TARGET_FILE:urlfilter_fuzzer>)
set_tests_properties(urlfilter_fuzz PROPERTIES TIMEOUT 300)
