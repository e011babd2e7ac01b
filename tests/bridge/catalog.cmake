qv_add_gtest(test_catalogue ${CMAKE_CURRENT_LIST_DIR}/test_catalogue.cpp)
target_link_libraries(test_catalogue PRIVATE qv_catalog)
