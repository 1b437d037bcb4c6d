# The account files: Account.inf and Account.cfg readers.
postwatch_add_fuzzer(accountinf_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/accountinf_fuzz.cpp
    LINK pw_store
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/accountinf)
postwatch_add_fuzzer(accountcfg_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/accountcfg_fuzz.cpp
    LINK pw_store
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/accountcfg)
