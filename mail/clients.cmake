# The POP3 and IMAP4 clients: the check of one mail account over the transport, with the
# header parsing, decoding and filter rules of pw_mailtext.
add_library(pw_mailclients STATIC
    ${CMAKE_CURRENT_LIST_DIR}/checkrequest.h ${CMAKE_CURRENT_LIST_DIR}/checkresult.h
    ${CMAKE_CURRENT_LIST_DIR}/deletingrules.cpp ${CMAKE_CURRENT_LIST_DIR}/deletingrules.h
    ${CMAKE_CURRENT_LIST_DIR}/checksink.h
    ${CMAKE_CURRENT_LIST_DIR}/bearersasl.cpp ${CMAKE_CURRENT_LIST_DIR}/bearersasl.h
    ${CMAKE_CURRENT_LIST_DIR}/securitychoice.cpp ${CMAKE_CURRENT_LIST_DIR}/securitychoice.h
    ${CMAKE_CURRENT_LIST_DIR}/mailsession.cpp ${CMAKE_CURRENT_LIST_DIR}/mailsession.h
    ${CMAKE_CURRENT_LIST_DIR}/pop3client.cpp ${CMAKE_CURRENT_LIST_DIR}/pop3client.h
    ${CMAKE_CURRENT_LIST_DIR}/imapfetchresponse.cpp ${CMAKE_CURRENT_LIST_DIR}/imapfetchresponse.h
    ${CMAKE_CURRENT_LIST_DIR}/imap4client.cpp ${CMAKE_CURRENT_LIST_DIR}/imap4client.h)
target_include_directories(pw_mailclients PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(pw_mailclients PUBLIC pw_transport pw_mailtext pw_store)
