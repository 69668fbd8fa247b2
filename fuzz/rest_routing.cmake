# The REST route patterns and query parameters under libFuzzer + ASan/UBSan.
tn_add_fuzzer(rest_routing_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/rest_routing_fuzzer.cc
  LIBS tn_webservices)

# A bounded run from a few seed targets; new inputs go to a scratch folder in the build tree.
set(rest_routing_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/rest_routing_corpus)
add_test(NAME rest_routing_fuzz
  COMMAND sh -c "mkdir -p '${rest_routing_fuzz_scratch}' && exec \"$0\" -runs=200000 -max_total_time=200 -max_len=2048 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${rest_routing_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/rest/data/corpus'"
          $<TARGET_FILE:rest_routing_fuzzer>)
set_tests_properties(rest_routing_fuzz PROPERTIES TIMEOUT 300)
