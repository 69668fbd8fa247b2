# The worker messages' readers (requests as the worker reads them, replies as the daemon reads
# them) under libFuzzer + ASan/UBSan.
tn_add_fuzzer(millhand_wire_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/millhand_wire_fuzzer.cc
  LIBS tn_millhand)

# A bounded run over the committed seed messages; new inputs go to a scratch folder. Counts and
# lengths announce up to 4 GiB: the malloc limit shows any room taken on their word alone.
set(millhand_wire_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/millhand_wire_corpus)
add_test(NAME millhand_wire_fuzz
  COMMAND sh -c "mkdir -p '${millhand_wire_fuzz_scratch}' && exec \"$0\" -runs=300000 -max_total_time=200 -max_len=2048 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 -dict='${CMAKE_CURRENT_LIST_DIR}/millhand_wire.dict' '${millhand_wire_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/millhand/data/corpus'"
          $<TARGET_FILE:millhand_wire_fuzzer>)
set_tests_properties(millhand_wire_fuzz PROPERTIES TIMEOUT 300)
