# Every target of ours gets the same warnings; warnings are errors unless switched off.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
                    -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough)
if(POSTWATCH_WERROR)
    add_compile_options(-Werror)
endif()
