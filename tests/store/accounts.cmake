postwatch_add_gtest(store_cipher_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/passcipher_test.cpp
    LINK pw_store)
postwatch_add_gtest(store_accounts_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/accountfile_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/accountlist_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/accounttestutil.h
    LINK pw_store)
postwatch_add_gtest(store_accountcfg_crash_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/accountlist_crash_test.cpp
    LINK pw_store)
postwatch_add_gtest(store_accounttable_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/accountmanager_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/newaccount_test.cpp
    LINK pw_store)
postwatch_add_gtest(store_accounteditor_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/accounteditor_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/accounteditor_crash_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/editortestutil.h
    LINK pw_store)
postwatch_add_gtest(store_accountsecret_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/accountsecret_test.cpp
    LINK pw_store pw_testsupport_keyring)
