# Base-station configuration exchanges (channel, parameters, version and station number).
target_sources(qv_link PRIVATE ${CMAKE_CURRENT_LIST_DIR}/BaseStation.cpp)
