# Mail parser (with the parsers of its nested dispatch) under libFuzzer + ASan/UBSan.
tn_add_fuzzer(mail_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/mail_fuzz.cc LIBS tn_parsers)

# A bounded run over the committed nasty messages; new inputs go to a scratch folder.
set(mail_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/mail_corpus)
add_test(NAME mail_fuzz
  COMMAND sh -c "mkdir -p '${mail_fuzz_scratch}' && exec \"$0\" -runs=30000 -max_total_time=200 -max_len=8192 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 -dict='${CMAKE_CURRENT_LIST_DIR}/mail_fuzz.dict' '${mail_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/mail/data/nasty'"
          $<TARGET_FILE:mail_fuzz>)
set_tests_properties(mail_fuzz PROPERTIES TIMEOUT 300)
