# The command catalogue: a compiled-in table, no database client needed.
add_library(qv_catalog STATIC ${CMAKE_CURRENT_LIST_DIR}/Catalogue.cpp)
target_link_libraries(qv_catalog PUBLIC qv_core)
