# bench_db: the access layer alone on a real server: procedure calls (ExecProc, Open of
# 1 / 100 / 2,000 rows), parameter refresh and the link check, with time and server round
# trips per call. Usage: bench_db [connection string] [iterations] (default: QV_TEST_PG, 200).
if(TARGET qv_db)
  add_executable(bench_db ${CMAKE_CURRENT_LIST_DIR}/db/BenchDb.cpp)
  target_link_libraries(bench_db PRIVATE qv_db)
endif()
