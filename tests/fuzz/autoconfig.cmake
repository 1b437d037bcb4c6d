# The settings look-up's readers of outside input: configuration documents and SRV answers.
postwatch_add_fuzzer(autoconfig_xml_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/autoconfig_xml_fuzz.cpp
    LINK pw_autoconfig_readers
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/autoconfig_xml_fuzz)
postwatch_add_fuzzer(autoconfig_srv_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/autoconfig_srv_fuzz.cpp
    LINK pw_autoconfig_readers
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/autoconfig_srv_fuzz)
