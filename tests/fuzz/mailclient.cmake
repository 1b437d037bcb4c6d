# The desktop's files that name mail clients: desktop entries and mimeapps.list.
postwatch_add_fuzzer(desktopentry_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/desktopentry_fuzz.cpp
    LINK pw_mailclient
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/desktopentry_fuzz)
