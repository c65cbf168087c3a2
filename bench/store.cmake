add_executable(bench_store store/bench_store.cpp)
target_link_libraries(bench_store PRIVATE store)
target_include_directories(bench_store PRIVATE ${CMAKE_SOURCE_DIR}/bench)
