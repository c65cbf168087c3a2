add_executable(bench_history history/bench_history.cpp)
target_link_libraries(bench_history PRIVATE store)
target_include_directories(bench_history PRIVATE ${CMAKE_SOURCE_DIR}/bench)
