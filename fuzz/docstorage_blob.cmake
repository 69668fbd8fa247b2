# Stored blobs of the document store (zlib stream beside a length column) under libFuzzer.
tn_add_fuzzer(docstorage_blob_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/docstorage_blob_fuzzer.cc
  LIBS tn_docstorage)

# A bounded run over the committed seeds; new inputs go to a scratch folder in the build tree.
set(docstorage_blob_scratch ${CMAKE_BINARY_DIR}/fuzz/docstorage_blob_corpus)
add_test(NAME docstorage_blob_fuzz
  COMMAND sh -c "mkdir -p '${docstorage_blob_scratch}' && exec \"$0\" -runs=300000 -max_total_time=200 -max_len=4096 -rss_limit_mb=512 -malloc_limit_mb=64 -seed=1 '${docstorage_blob_scratch}' '${CMAKE_SOURCE_DIR}/tests/docstorage/data/blob-corpus'"
          $<TARGET_FILE:docstorage_blob_fuzzer>)
set_tests_properties(docstorage_blob_fuzz PROPERTIES TIMEOUT 300)
