# Crawl-log cursors and logged query texts from clients, under libFuzzer + ASan/UBSan.
tn_add_fuzzer(logstorage_cursor_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logstorage_cursor_fuzzer.cc
  LIBS tn_logstorage)

# A bounded run from an empty corpus; new inputs go to a scratch folder in the build tree.
set(logstorage_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/logstorage_cursor_corpus)
add_test(NAME logstorage_cursor_fuzz
  COMMAND sh -c "mkdir -p '${logstorage_fuzz_scratch}' && exec \"$0\" -runs=50000 -max_total_time=200 -max_len=256 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${logstorage_fuzz_scratch}'"
          $<TARGET_FILE:logstorage_cursor_fuzzer>)
set_tests_properties(logstorage_cursor_fuzz PROPERTIES TIMEOUT 300)
