postwatch_add_gtest(store_cipher_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/passcipher_test.cpp
    LINK pw_store)
