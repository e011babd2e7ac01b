# The read-request and upload exchanges with the record packing; they reach the database
# through the bridge's read and save entry points.
if(TARGET qv_bridge)
  add_library(qv_exchange STATIC
    ${CMAKE_CURRENT_LIST_DIR}/RecordPack.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReadExchange.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UploadExchange.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Exchange.cpp
  )
  target_link_libraries(qv_exchange PUBLIC qv_link qv_bridge)
endif()
