# The journal of unfinished account folder moves.
postwatch_add_fuzzer(accountmoves_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/accountmoves_fuzz.cpp
    LINK pw_store
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/accountmoves)
