# bench_app: the main window over a full store: start-up, list rebuild, repaints, memory.
add_executable(bench_app ${CMAKE_CURRENT_LIST_DIR}/app/bench_app.cpp)
target_link_libraries(bench_app PRIVATE kavioapp)
target_include_directories(bench_app PRIVATE ${CMAKE_SOURCE_DIR}/bench)
