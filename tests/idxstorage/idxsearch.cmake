# Search tests: summaries from in-memory FFF trees; the query builder of the client; the
# server's query engine over an in-memory store; end to end through a real siftvault.
tn_add_test(idxsearch_summary_test SOURCES idxsearch_summary_test.cc LIBS tn_idxstorage)

tn_add_test(idxsearch_e2e_test SOURCES idxsearch_e2e_test.cc LIBS tn_idxstorage tn_docstorage)
add_dependencies(idxsearch_e2e_test siftvault)

tn_add_test(idxsearch_query_test SOURCES idxsearch_query_test.cc LIBS tn_idxstorage tn_siftvault)

# Search connections beside the writer's: a real siftvault under concurrent searches, adds,
# commits, OPTIMIZE, reset and a kill; the server's read-only session over a store on disk.
tn_add_test(idxsearch_pool_test SOURCES idxsearch_pool_test.cc LIBS tn_idxstorage tn_docstorage tn_siftvault)
add_dependencies(idxsearch_pool_test siftvault)
