# The POP3 and IMAP4 clients: whole checks over server bytes in memory.
postwatch_add_fuzzer(clients_pop3_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/clients_pop3_fuzz.cpp ${CMAKE_CURRENT_LIST_DIR}/scriptedsegments.h
    LINK pw_mailclients
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/clients_pop3_fuzz)
postwatch_add_fuzzer(clients_imap_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/clients_imap_fuzz.cpp ${CMAKE_CURRENT_LIST_DIR}/scriptedsegments.h
    LINK pw_mailclients
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/clients_imap_fuzz)
