# The crawl step's readers of untrusted text: Set-Cookie lines of a worker's reply headers and
# the printf-style NOTIFYURL, under libFuzzer + ASan/UBSan.
tn_add_fuzzer(crawl_text_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/crawl_text_fuzzer.cc
  LIBS tn_daemoncore)

set(crawl_text_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/crawl_text_corpus)
add_test(NAME crawl_text_fuzz
  COMMAND sh -c "mkdir -p '${crawl_text_fuzz_scratch}' && exec \"$0\" -runs=200000 -max_total_time=200 -max_len=4096 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${crawl_text_fuzz_scratch}'"
          $<TARGET_FILE:crawl_text_fuzzer>)
set_tests_properties(crawl_text_fuzz PROPERTIES TIMEOUT 300)
