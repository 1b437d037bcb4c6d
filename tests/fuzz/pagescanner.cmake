# The page-reading web client's searches over hostile provider pages, and entity decoding.
postwatch_add_fuzzer(pagescanner_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/pagescanner_fuzz.cpp
    LINK pw_portalpost
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/pagescanner_fuzz)
