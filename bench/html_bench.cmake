tn_add_bench(html_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/html_bench.cc LIBS tn_parsers)
# The per-page docmill runs use the program of this build.
target_compile_definitions(html_bench PRIVATE TN_DOCMILL="$<TARGET_FILE:docmill>")
add_dependencies(html_bench docmill)
