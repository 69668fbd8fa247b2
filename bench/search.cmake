# One-word search latency on 100,000 generated documents: idxstorage::search over a real
# siftvault against Xapian queried directly and SQLite FTS5 on the same documents.
tn_add_bench(search_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/search_bench.cc
  LIBS tn_idxstorage tn_docstorage tn_logstorage tn_siftvault)
target_include_directories(search_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
target_compile_definitions(search_bench PRIVATE TN_SIFTVAULT="$<TARGET_FILE:siftvault>")
add_dependencies(search_bench siftvault)
