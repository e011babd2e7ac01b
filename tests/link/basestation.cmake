# Base-station exchanges on the virtual clock, and the simulator: its engine frame by
# frame, its scripts, and the link core against it over pseudo-terminals.
qv_add_gtest(qv_basestation_tests
  ${CMAKE_CURRENT_LIST_DIR}/basestation/BaseStationTest.cpp
)
target_link_libraries(qv_basestation_tests PRIVATE qv_link qv_link_testsupport)

# qv_sim, qv_sim_pcside and qv-sim come from tools/simulator, configured after the tests;
# target names resolve when the build is generated.
qv_add_gtest(qv_sim_tests
  ${CMAKE_CURRENT_LIST_DIR}/basestation/SimEngineTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/basestation/SimScriptTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/basestation/SimPtyTest.cpp
)
target_include_directories(qv_sim_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/basestation)
target_link_libraries(qv_sim_tests PRIVATE qv_sim qv_sim_pcside qv_link_testsupport)
target_compile_definitions(qv_sim_tests PRIVATE QV_SIM_PATH="$<TARGET_FILE:qv-sim>")
add_dependencies(qv_sim_tests qv-sim)

# The download (part of the window library) against the simulator and the demo database.
if(TARGET qv_gui)
  qv_add_gtest(qv_sim_download_tests ${CMAKE_CURRENT_LIST_DIR}/basestation/SimDownloadTest.cpp)
  target_include_directories(qv_sim_download_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/basestation)
  target_link_libraries(qv_sim_download_tests PRIVATE qv_gui qv_sim qv_sim_pcside qv_link_testsupport)
endif()
