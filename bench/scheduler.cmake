add_executable(bench_scheduler scheduler/bench_scheduler.cpp)
target_link_libraries(bench_scheduler PRIVATE scheduler)
target_include_directories(bench_scheduler PRIVATE ${CMAKE_SOURCE_DIR}/bench)
