# Base-station exchanges on the virtual clock, and the simulator over pseudo-terminals.
qv_add_gtest(qv_basestation_tests
  ${CMAKE_CURRENT_LIST_DIR}/basestation/BaseStationTest.cpp
)
target_link_libraries(qv_basestation_tests PRIVATE qv_link qv_link_testsupport)
