# The token endpoint's answers (JSON) and the sign-in state file.
postwatch_add_fuzzer(oauth_token_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/oauth_token_fuzz.cpp
    LINK pw_oauth
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/oauth_token)
