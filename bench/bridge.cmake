# bench_bridge: a 2,000-dish W-PLU read and a 200-record upload through the bridge, with
# time and server round trips per row. Usage: bench_bridge [libpq connection string]
# (default: QV_TEST_PG). It works in a database of its own on that server.
if(TARGET qv_bridge)
  add_executable(bench_bridge ${CMAKE_CURRENT_SOURCE_DIR}/bridge/BenchBridge.cpp)
  target_link_libraries(bench_bridge PRIVATE qv_bridge)
endif()
