# exec_quote(OUT VALUE): VALUE as one argument by the Desktop Entry rules for Exec (the same
# rules the uninstaller splits its command by): in double quotes, with " ` $ \ escaped.
function(exec_quote out value)
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "\"" "\\\"" value "${value}")
    string(REPLACE "`" "\\`" value "${value}")
    string(REPLACE "$" "\\$" value "${value}")
    set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

# desktop_value(OUT VALUE): an Exec value as a desktop file stores it: the string type escapes
# each backslash once more, and "%" is written "%%" (no field code).
function(desktop_value out value)
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "%" "%%" value "${value}")
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

# Paths go into line-based files (desktop entries, the install manifest): no line breaks.
function(check_install_path path)
    if(path MATCHES "[\r\n]")
        message(FATAL_ERROR "The install prefix must not contain a line break: ${path}")
    endif()
endfunction()
