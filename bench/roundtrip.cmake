# Round trips of terminal frames through TComm over a pseudo-terminal against the
# simulator's engine.
add_executable(bench_roundtrip ${CMAKE_CURRENT_LIST_DIR}/roundtrip/main.cpp)
target_link_libraries(bench_roundtrip PRIVATE qv_sim qv_sim_pcside)
