# Header parsing and decoding of hostile mail text, and the filter rule test.
postwatch_add_fuzzer(mail_header_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mail_header_fuzz.cpp
    LINK pw_mailtext
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/mail_header_fuzz)
postwatch_add_fuzzer(mail_filter_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mail_filter_fuzz.cpp
    LINK pw_mailtext
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/mail_filter_fuzz)
