postwatch_add_gtest(store_mailbox_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mailbox_test.cpp
    LINK pw_store)
postwatch_add_gtest(store_uidfile_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/uidfile_test.cpp
    LINK pw_store)

# Crash tests: a helper process is killed while it writes, then the store is reopened.
add_executable(mailbox_crash_helper ${CMAKE_CURRENT_LIST_DIR}/mailbox_crash_helper.cpp
                                    ${CMAKE_CURRENT_LIST_DIR}/mailbox_crash_helper.h)
target_link_libraries(mailbox_crash_helper PRIVATE pw_store pw_core)
postwatch_add_gtest(store_mailbox_crash_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mailbox_crash_test.cpp
    LINK pw_store)
target_compile_definitions(store_mailbox_crash_test
    PRIVATE MAILBOX_CRASH_HELPER="$<TARGET_FILE:mailbox_crash_helper>")
add_dependencies(store_mailbox_crash_test mailbox_crash_helper)
