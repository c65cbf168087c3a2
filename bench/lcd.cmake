# bench_lcd: paint times of the dot-matrix display.
add_executable(bench_lcd ${CMAKE_CURRENT_LIST_DIR}/lcd/bench_lcd.cpp)
target_link_libraries(bench_lcd PRIVATE lcd Qt6::Widgets)
