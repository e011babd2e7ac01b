# Exchange tests: the record packing and the exchanges on a scripted terminal (fake bridge),
# and whole sessions against the demo database (QV_TEST_PG; skipped without it).
if(TARGET qv_exchange)
  set(_x ${CMAKE_CURRENT_SOURCE_DIR}/exchange)
  add_library(qv_exchange_testsupport STATIC ${_x}/TermScript.cpp ${_x}/DemoDb.cpp)
  target_include_directories(qv_exchange_testsupport PUBLIC ${_x})
  target_compile_definitions(qv_exchange_testsupport PRIVATE QV_DB_DIR="${PROJECT_SOURCE_DIR}/db")
  target_link_libraries(qv_exchange_testsupport PUBLIC qv_exchange qv_link_testsupport GTest::gtest)

  qv_add_gtest(test_link_exchange ${_x}/PackTest.cpp ${_x}/UploadTextTest.cpp ${_x}/FlowTest.cpp)
  target_link_libraries(test_link_exchange PRIVATE qv_exchange_testsupport)

  qv_add_gtest(test_link_exchange_db ${_x}/OrderingSessionTest.cpp ${_x}/StockSessionTest.cpp)
  target_link_libraries(test_link_exchange_db PRIVATE qv_exchange_testsupport)
endif()
