add_executable(bench_kaviod kaviod/bench_kaviod.cpp)
target_link_libraries(bench_kaviod PRIVATE store Qt6::Network Qt6::Sql)
target_include_directories(bench_kaviod PRIVATE ${CMAKE_SOURCE_DIR}/bench)
add_dependencies(bench_kaviod kaviod)
