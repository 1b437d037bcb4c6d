# The plug-ins' MIDs/MIDS file: its table test and its kill test.
postwatch_add_gtest(store_midsfile_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/midsfile_test.cpp
    LINK pw_store)
add_executable(mids_crash_helper ${CMAKE_CURRENT_LIST_DIR}/mids_crash_helper.cpp)
target_link_libraries(mids_crash_helper PRIVATE pw_store)
postwatch_add_gtest(store_mids_crash_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mids_crash_test.cpp
    LINK pw_store)
target_compile_definitions(store_mids_crash_test
    PRIVATE MIDS_CRASH_HELPER="$<TARGET_FILE:mids_crash_helper>")
add_dependencies(store_mids_crash_test mids_crash_helper)
