# Searches side by side: a real daemon with a few thousand documents, one client against many
# concurrent clients of one-word SOAP searches; prints each throughput and their ratio. Its own
# main (a ratio of two runs), so not a Google Benchmark program; not run by ctest.
add_executable(search_concurrency_bench ${CMAKE_CURRENT_LIST_DIR}/search_concurrency_bench.cc)
target_link_libraries(search_concurrency_bench PRIVATE tn_soapclient OpenSSL::Crypto Threads::Threads)
target_include_directories(search_concurrency_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
target_compile_definitions(search_concurrency_bench PRIVATE
  TN_TRAWLNESTD="$<TARGET_FILE:trawlnestd>"
  TN_SIFTVAULT="$<TARGET_FILE:siftvault>"
  TN_MILLHAND="$<TARGET_FILE:millhand>")
add_dependencies(search_concurrency_bench trawlnestd siftvault millhand)
