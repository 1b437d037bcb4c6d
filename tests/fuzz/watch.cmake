# The watch mode: the counts stream between two programs and the printed lines.
postwatch_add_fuzzer(watchcounts_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/watchcounts_fuzz.cpp
    LINK pw_headless pw_desktopfront Qt6::Core
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/watchcounts)
