# The push connection's reading of an idling IMAP server's lines.
postwatch_add_fuzzer(push_idle_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/push_idle_fuzz.cpp
    LINK pw_core_mail
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/push_idle_fuzz)
