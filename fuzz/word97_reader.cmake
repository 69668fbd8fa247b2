# Our own Word 97 reader (it reads hostile input in the reader process) under libFuzzer +
# ASan/UBSan.
tn_add_fuzzer(word97_reader_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/word97_reader_fuzzer.cc
  LIBS tn_wvadapter)

# A bounded run over the committed seeds (the streams of three fixtures); new inputs go to a
# scratch folder in the build tree.
set(word97_reader_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/word97_reader_corpus)
add_test(NAME word97_reader_fuzz
  COMMAND sh -c "mkdir -p '${word97_reader_fuzz_scratch}' && exec \"$0\" -runs=200000 -max_total_time=200 -max_len=65536 -timeout=10 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${word97_reader_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/doc/data/word97-seeds'"
          $<TARGET_FILE:word97_reader_fuzzer>)
set_tests_properties(word97_reader_fuzz PROPERTIES TIMEOUT 300)
