# The database bridge: data module, dataset pool, procedure binding, record texts and the
# read and save entry points. Needs the database access layer.
if(TARGET qv_db)
  add_library(qv_bridge STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Fields.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DbLink.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SharePool.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SqlBind.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RecordText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SqlExec.cpp
  )
  target_link_libraries(qv_bridge PUBLIC qv_db qv_catalog qv_core)
endif()
