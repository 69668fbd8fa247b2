# The portal's request-text readers and template expansion under libFuzzer + ASan/UBSan.
tn_add_fuzzer(portal_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/portal_fuzzer.cc
  LIBS tn_webservices)

# A bounded run from a few seeds; new inputs go to a scratch folder in the build tree.
set(portal_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/portal_corpus)
add_test(NAME portal_fuzz
  COMMAND sh -c "mkdir -p '${portal_fuzz_scratch}' && exec \"$0\" -runs=100000 -max_total_time=200 -max_len=2048 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${portal_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/portal/data/corpus'"
          $<TARGET_FILE:portal_fuzzer>)
set_tests_properties(portal_fuzz PROPERTIES TIMEOUT 300)
