# The uninstall launcher's inputs: registration files and the commands they hold.
postwatch_add_fuzzer(uninstallregistration_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/uninstallregistration_fuzz.cpp
    LINK pw_uninstall
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/uninstallregistration_fuzz)
