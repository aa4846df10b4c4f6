# bench_diagnostic.cmake - which compiler and linker flags shape no code, shared by the build's flag
# text and the test that checks it against the recorded commands.

# True when flag only steers warnings or diagnostics: it changes no code. -Wl, -Wa and -Wp, pass
# options on to the linker, assembler and preprocessor and are kept.
function(bench_is_diagnostic out flag)
    if((flag MATCHES "^-W" AND NOT flag MATCHES "^-W[lap],") OR flag MATCHES "^-fdiagnostics-"
       OR flag MATCHES "^-pedantic" OR flag STREQUAL "-w" OR flag MATCHES "^-fmax-errors=")
        set(${out} TRUE PARENT_SCOPE)
    else()
        set(${out} FALSE PARENT_SCOPE)
    endif()
endfunction()
