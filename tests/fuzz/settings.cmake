# The settings store's guard against files QSettings would parse into objects.
postwatch_add_fuzzer(settingsfile_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/settingsfile_fuzz.cpp
    LINK pw_registry Qt6::Core
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/settingsfile)
