# The test build runs everything under AddressSanitizer and UndefinedBehaviorSanitizer.
# With clang, code is also built with coverage hooks so that the fuzz targets in
# tests/fuzz link against instrumented libraries.
set(POSTWATCH_CAN_FUZZ OFF)
if(POSTWATCH_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        add_compile_options(-fsanitize=fuzzer-no-link)
        set(POSTWATCH_CAN_FUZZ ON)
    endif()
endif()

# The thread-sanitizer build (build/tsan) runs the tests of threaded code only (label "tsan",
# target pw_tsan_tests, see tests/CMakeLists.txt); tests/support/tsan.supp says which reports
# from outside our code it silences and why.
if(POSTWATCH_TSAN)
    if(POSTWATCH_SANITIZE)
        message(FATAL_ERROR "POSTWATCH_TSAN and POSTWATCH_SANITIZE exclude each other")
    endif()
    if(NOT POSTWATCH_BUILD_TESTS)
        message(FATAL_ERROR "POSTWATCH_TSAN builds tests: it needs POSTWATCH_BUILD_TESTS")
    endif()
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# postwatch_add_fuzzer(name source... LINK libs... CORPUS dir)
# Builds a libFuzzer target and registers a short run of it with ctest.
function(postwatch_add_fuzzer name)
    cmake_parse_arguments(F "" "CORPUS" "SOURCES;LINK" ${ARGN})
    if(NOT POSTWATCH_CAN_FUZZ)
        return()
    endif()
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE ${F_LINK})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    # New inputs go to a corpus folder in the build tree; the committed seeds are read only.
    set(dirs ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus)
    file(MAKE_DIRECTORY ${dirs})
    if(F_CORPUS)
        list(APPEND dirs ${F_CORPUS})
    endif()
    add_test(NAME fuzz.${name}
             COMMAND ${name} -max_total_time=15 -rss_limit_mb=2048 -timeout=10
                     -print_final_stats=0 ${dirs})
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 120)
    # A runner for longer sessions (scripts/fuzz-long.sh): fuzz/<name>.sh SECONDS
    string(REPLACE ";" " " dir_words "${dirs}")
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz/${name}.sh CONTENT
"#!/bin/sh
exec $<TARGET_FILE:${name}> -max_total_time=$1 -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 ${dir_words}
")
endfunction()
