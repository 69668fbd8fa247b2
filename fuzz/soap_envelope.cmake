# The SOAP envelope reader and the array and value readers under libFuzzer + ASan/UBSan.
tn_add_fuzzer(soap_envelope_fuzzer SOURCES ${CMAKE_CURRENT_LIST_DIR}/soap_envelope_fuzzer.cc
  LIBS tn_soap)

# A bounded run over the committed envelopes; new inputs go to a scratch folder.
set(soap_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/soap_envelope_corpus)
add_test(NAME soap_envelope_fuzz
  COMMAND sh -c "mkdir -p '${soap_fuzz_scratch}' && exec \"$0\" -runs=100000 -max_total_time=200 -max_len=4096 -rss_limit_mb=512 -malloc_limit_mb=128 -seed=1 -dict='${CMAKE_CURRENT_LIST_DIR}/soap_envelope.dict' '${soap_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/soap/data/corpus'"
          $<TARGET_FILE:soap_envelope_fuzzer>)
set_tests_properties(soap_envelope_fuzz PROPERTIES TIMEOUT 300)
