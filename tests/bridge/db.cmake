# Tests of the database access layer. PgTest needs a server: QV_TEST_PG (scripts/test
# starts a private one with scripts/pg-fixture); without it those tests are skipped.
qv_add_gtest(qv_db_tests
  ${CMAKE_CURRENT_LIST_DIR}/db/ConnStringTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/db/FormatTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/db/FreeTdsUnitTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/db/OdbcTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/db/PgTest.cpp
)
target_link_libraries(qv_db_tests PRIVATE qv_db)

# The ODBC backend through the real FreeTDS driver against a scripted TDS responder.
qv_add_gtest(qv_freetds_tests
  ${CMAKE_CURRENT_LIST_DIR}/db/FreeTdsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/db/TdsResponder.cpp
)
target_link_libraries(qv_freetds_tests PRIVATE qv_db Threads::Threads)
