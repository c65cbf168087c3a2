add_executable(bench_kavioctl_poll kavioctl/bench_kavioctl_poll.cpp)
target_link_libraries(bench_kavioctl_poll PRIVATE store Qt6::Network)
target_include_directories(bench_kavioctl_poll PRIVATE ${CMAKE_SOURCE_DIR}/bench)
add_dependencies(bench_kavioctl_poll kaviosim kavioctl)
