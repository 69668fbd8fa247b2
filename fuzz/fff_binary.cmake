# FFF binary reader and metas unpacker under libFuzzer + ASan/UBSan.
tn_add_fuzzer(fff_binary_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fff_binary_fuzzer.cc ${CMAKE_CURRENT_LIST_DIR}/fff_binary_entry.cc
  LIBS tn_fff)

# A bounded run over the committed seeds; new inputs go to a scratch folder in the build tree.
# The malloc limit holds memory to a small multiple of the largest input.
set(fff_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/fff_binary_corpus)
add_test(NAME fff_binary_fuzz
  COMMAND sh -c "mkdir -p '${fff_fuzz_scratch}' && exec \"$0\" -runs=200000 -max_total_time=200 -max_len=4096 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${fff_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/fff/data/corpus'"
          $<TARGET_FILE:fff_binary_fuzzer>)
set_tests_properties(fff_binary_fuzz PROPERTIES TIMEOUT 300)
