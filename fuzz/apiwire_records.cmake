# The readers of the API records over untrusted envelopes under libFuzzer + ASan/UBSan.
tn_add_fuzzer(apiwire_records_fuzzer SOURCES ${CMAKE_CURRENT_LIST_DIR}/apiwire_records_fuzzer.cc
  LIBS tn_apiwire)

# A bounded run over the committed envelopes; new inputs go to a scratch folder.
set(apiwire_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/apiwire_records_corpus)
add_test(NAME apiwire_records_fuzz
  COMMAND sh -c "mkdir -p '${apiwire_fuzz_scratch}' && exec \"$0\" -runs=100000 -max_total_time=200 -max_len=8192 -rss_limit_mb=512 -malloc_limit_mb=128 -seed=1 -dict='${CMAKE_CURRENT_LIST_DIR}/soap_envelope.dict' '${apiwire_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/apiwire/data/corpus'"
          $<TARGET_FILE:apiwire_records_fuzzer>)
set_tests_properties(apiwire_records_fuzz PROPERTIES TIMEOUT 300)
