# The database access layer (qv_db): ADO-shaped components over libpq and unixODBC/FreeTDS.
pkg_check_modules(QV_LIBPQ REQUIRED IMPORTED_TARGET libpq)
pkg_check_modules(QV_ODBC REQUIRED IMPORTED_TARGET odbc)
add_library(qv_db STATIC
  ${CMAKE_CURRENT_LIST_DIR}/db/ConnString.cpp
  ${CMAKE_CURRENT_LIST_DIR}/db/Format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/db/Db.cpp
  ${CMAKE_CURRENT_LIST_DIR}/db/PgBackend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/db/OdbcBackend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/db/FreeTds.cpp
)
target_include_directories(qv_db PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(qv_db PRIVATE PkgConfig::QV_LIBPQ PkgConfig::QV_ODBC Threads::Threads)
