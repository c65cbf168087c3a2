add_executable(bench_command command/bench_command.cpp)
target_link_libraries(bench_command PRIVATE command store unitsim)
target_include_directories(bench_command PRIVATE ${CMAKE_SOURCE_DIR}/bench ${CMAKE_SOURCE_DIR}/tests/support)
add_dependencies(bench_command kaviosim)
