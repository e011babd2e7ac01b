# Round-trip latency and idle CPU of the serial component over a pseudo-terminal.
add_executable(bench_serial ${CMAKE_CURRENT_LIST_DIR}/serial/bench_serial.cpp)
target_link_libraries(bench_serial PRIVATE qv_serial)
