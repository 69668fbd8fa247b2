# Gopher menu conversion and news header dates under libFuzzer + ASan/UBSan.
tn_add_fuzzer(gopher_menu_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/gopher_menu_fuzzer.cc
  LIBS tn_fetchers)

set(gopher_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/gopher_menu_corpus)
add_test(NAME gopher_menu_fuzz
  COMMAND sh -c "mkdir -p '${gopher_fuzz_scratch}' && exec \"$0\" -runs=100000 -max_total_time=200 -max_len=4096 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${gopher_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/gopher/data/corpus'"
          $<TARGET_FILE:gopher_menu_fuzzer>)
set_tests_properties(gopher_menu_fuzz PROPERTIES TIMEOUT 300)
