# FTP listing line parser under libFuzzer + ASan/UBSan. The parser stands alone, so the target
# builds it directly instead of pulling in the fetchers' network libraries.
tn_add_fuzzer(ftp_listing_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ftp_listing_fuzzer.cc
          ${CMAKE_SOURCE_DIR}/src/fetchers/ftp-listing.cc)

# A bounded run over the committed nasty lines; new inputs go to a scratch folder.
set(ftp_listing_fuzz_scratch ${CMAKE_BINARY_DIR}/fuzz/ftp_listing_corpus)
add_test(NAME ftp_listing_fuzz
  COMMAND sh -c "mkdir -p '${ftp_listing_fuzz_scratch}' && exec \"$0\" -runs=300000 -max_total_time=200 -max_len=1024 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${ftp_listing_fuzz_scratch}' '${CMAKE_SOURCE_DIR}/tests/ftplisting/data/nasty'"
          $<TARGET_FILE:ftp_listing_fuzzer>)
set_tests_properties(ftp_listing_fuzz PROPERTIES TIMEOUT 300)
