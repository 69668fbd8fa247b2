tn_add_bench(fff_binary_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/fff_binary_bench.cc LIBS tn_fff)
