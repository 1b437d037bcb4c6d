# The plug-ins' file of handled message identifiers (MIDs, MIDS).
postwatch_add_fuzzer(fuzz_mids
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mids_fuzz.cpp
    LINK pw_store
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/mids)
