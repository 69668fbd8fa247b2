# RTF parser under libFuzzer + ASan/UBSan.
tn_add_fuzzer(rtf_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtf_fuzz.cc LIBS tn_parsers)

# A bounded run over the committed nasty documents; new inputs go to a scratch folder.
set(rtf_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/rtf_corpus)
add_test(NAME rtf_fuzz
  COMMAND sh -c "mkdir -p '${rtf_fuzz_scratch}' && exec \"$0\" -runs=100000 -max_total_time=200 -max_len=8192 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 -dict='${CMAKE_CURRENT_LIST_DIR}/rtf_fuzz.dict' '${rtf_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/rtf/data/nasty'"
          $<TARGET_FILE:rtf_fuzz>)
set_tests_properties(rtf_fuzz PROPERTIES TIMEOUT 300)
