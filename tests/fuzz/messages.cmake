# The message store's readers: Message.box (open, mend, walk, read) and UID.inf.
postwatch_add_fuzzer(fuzz_mailbox
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mailbox_fuzz.cpp
    LINK pw_store
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/mailbox)
postwatch_add_fuzzer(fuzz_uidinf
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/uidinf_fuzz.cpp
    LINK pw_store
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/uidinf)
postwatch_add_fuzzer(fuzz_mailboxrepair
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mailboxrepair_fuzz.cpp
    LINK pw_store
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/mailbox)
