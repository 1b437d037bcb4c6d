list(APPEND STORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/passcipher.cpp ${CMAKE_CURRENT_LIST_DIR}/passcipher.h
    ${CMAKE_CURRENT_LIST_DIR}/accountrecord.h
    ${CMAKE_CURRENT_LIST_DIR}/accountfile.cpp ${CMAKE_CURRENT_LIST_DIR}/accountfile.h
    ${CMAKE_CURRENT_LIST_DIR}/accountlist.cpp ${CMAKE_CURRENT_LIST_DIR}/accountlist.h
    ${CMAKE_CURRENT_LIST_DIR}/accountnames.cpp ${CMAKE_CURRENT_LIST_DIR}/accountnames.h
    ${CMAKE_CURRENT_LIST_DIR}/accountplugins.h
    ${CMAKE_CURRENT_LIST_DIR}/accountentry.h
    ${CMAKE_CURRENT_LIST_DIR}/accountmanager.cpp ${CMAKE_CURRENT_LIST_DIR}/accountmanager.h
    ${CMAKE_CURRENT_LIST_DIR}/newaccount.cpp ${CMAKE_CURRENT_LIST_DIR}/newaccount.h
    ${CMAKE_CURRENT_LIST_DIR}/fromnowmarker.cpp ${CMAKE_CURRENT_LIST_DIR}/fromnowmarker.h
    ${CMAKE_CURRENT_LIST_DIR}/uidvalidity.cpp ${CMAKE_CURRENT_LIST_DIR}/uidvalidity.h
    ${CMAKE_CURRENT_LIST_DIR}/passwordrule.cpp ${CMAKE_CURRENT_LIST_DIR}/passwordrule.h
    ${CMAKE_CURRENT_LIST_DIR}/accountmoves.cpp ${CMAKE_CURRENT_LIST_DIR}/accountmoves.h
    ${CMAKE_CURRENT_LIST_DIR}/accounteditor.cpp ${CMAKE_CURRENT_LIST_DIR}/accounteditor.h
    ${CMAKE_CURRENT_LIST_DIR}/accountsecret.cpp ${CMAKE_CURRENT_LIST_DIR}/accountsecret.h
    ${CMAKE_CURRENT_LIST_DIR}/secretplacement.cpp ${CMAKE_CURRENT_LIST_DIR}/secretplacement.h)
