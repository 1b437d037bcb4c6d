list(APPEND STORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/passcipher.cpp ${CMAKE_CURRENT_LIST_DIR}/passcipher.h
    ${CMAKE_CURRENT_LIST_DIR}/messagerecord.h)
