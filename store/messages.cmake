# The message store: Message.box, UID.inf and message ids.
list(APPEND STORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/mailboxfile.cpp ${CMAKE_CURRENT_LIST_DIR}/mailboxfile.h
    ${CMAKE_CURRENT_LIST_DIR}/uidfile.cpp ${CMAKE_CURRENT_LIST_DIR}/uidfile.h
    ${CMAKE_CURRENT_LIST_DIR}/messageid.cpp ${CMAKE_CURRENT_LIST_DIR}/messageid.h
    ${CMAKE_CURRENT_LIST_DIR}/accountlock.cpp ${CMAKE_CURRENT_LIST_DIR}/accountlock.h
    ${CMAKE_CURRENT_LIST_DIR}/seenuids.cpp ${CMAKE_CURRENT_LIST_DIR}/seenuids.h
    ${CMAKE_CURRENT_LIST_DIR}/accountfileproblem.cpp
    ${CMAKE_CURRENT_LIST_DIR}/accountfileproblem.h
    ${CMAKE_CURRENT_LIST_DIR}/mailboxrepair.cpp ${CMAKE_CURRENT_LIST_DIR}/mailboxrepair.h
    ${CMAKE_CURRENT_LIST_DIR}/accountlistrepair.cpp
    ${CMAKE_CURRENT_LIST_DIR}/accountlistrepair.h
    ${CMAKE_CURRENT_LIST_DIR}/damagedcopy.cpp ${CMAKE_CURRENT_LIST_DIR}/damagedcopy.h
    ${CMAKE_CURRENT_LIST_DIR}/midsfile.cpp ${CMAKE_CURRENT_LIST_DIR}/midsfile.h)
