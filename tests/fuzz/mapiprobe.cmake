# The Maildir provider: file and folder names from disk, and message files.
postwatch_add_fuzzer(maildir_names_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/maildir_names_fuzz.cpp
    LINK pw_mapiprobe
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/maildir_names_fuzz)
postwatch_add_fuzzer(maildir_message_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/maildir_message_fuzz.cpp
    LINK pw_mapiprobe
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/maildir_message_fuzz)
