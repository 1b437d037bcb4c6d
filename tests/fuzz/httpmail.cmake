# The HTTPMail client's readers of server text: Digest challenges and PROPFIND answers.
postwatch_add_fuzzer(httpmail_digest_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/httpmail_digest_fuzz.cpp
    LINK pw_portalpost
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/httpmail_digest_fuzz)
postwatch_add_fuzzer(httpmail_propfind_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/httpmail_propfind_fuzz.cpp
    LINK pw_portalpost
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/httpmail_propfind_fuzz)
