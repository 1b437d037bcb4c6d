# The transport's reply readers: arbitrary server bytes through MemoryTransport.
postwatch_add_fuzzer(transport_pop3reply_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/transport_pop3reply_fuzz.cpp
    LINK pw_transport
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/transport_pop3reply_fuzz)
postwatch_add_fuzzer(transport_imapreply_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/transport_imapreply_fuzz.cpp
    LINK pw_transport
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/transport_imapreply_fuzz)
