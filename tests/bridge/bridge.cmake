# Bridge tests. The ones that need a server read its connection string from QV_TEST_PG
# and skip without it.
if(TARGET qv_bridge)
  set(_d ${CMAKE_CURRENT_SOURCE_DIR}/bridge)
  qv_add_gtest(test_bridge_pure
    ${_d}/FieldsTest.cpp ${_d}/ConnStringTest.cpp ${_d}/RecordTextTest.cpp ${_d}/PoolTest.cpp
    ${_d}/TraceTest.cpp)
  target_link_libraries(test_bridge_pure PRIVATE qv_bridge)
  foreach(_t IN ITEMS BindTest ExecTest DbLinkTest)
    if(EXISTS ${_d}/${_t}.cpp)
      string(TOLOWER ${_t} _n)
      qv_add_gtest(test_bridge_${_n} ${_d}/${_t}.cpp ${_d}/PgFixture.cpp)
      target_link_libraries(test_bridge_${_n} PRIVATE qv_bridge)
      target_compile_definitions(test_bridge_${_n} PRIVATE QV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    endif()
  endforeach()
endif()
