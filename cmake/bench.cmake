# bench.cmake - the project's warning set, target flags, test helpers and GoogleTest.

# True when the build makes ARM code (the cross build, or a native build on the board).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(arm|ARM)")
    set(BENCH_TARGET_ARM ON)
else()
    set(BENCH_TARGET_ARM OFF)
endif()

# The processor of the ARM build, named once: a Cortex-A9 running the ARM instruction set (the
# toolchain alone would make armv5te code), with the floating-point setups its programs use. All are
# empty on another host, where the compiler's defaults stand.
if(BENCH_TARGET_ARM)
    set(BENCH_CPU_FLAGS -mcpu=cortex-a9 -marm)
    set(BENCH_FPU_NEON -mfpu=neon -mfloat-abi=softfp)    # NEON unit, soft-float calling convention
    set(BENCH_FPU_VFP -mfpu=vfpv3 -mfloat-abi=softfp)    # scalar VFPv3 only
    set(BENCH_FPU_SOFT -mfloat-abi=soft)                 # no floating-point unit: software routines
    set(BENCH_STATIC_LINK -static)                       # runs on any ARMv7-A Linux
endif()

# The one warning set of the project's own sources; errors on when BENCH_WERROR is (the presets set
# it). A plain configure, as an image builder runs it with its own compiler and flags, leaves it off.
option(BENCH_WERROR "Treat compiler warnings as errors" OFF)
add_library(bench_warnings INTERFACE)
target_compile_options(bench_warnings INTERFACE
    -Wall -Wextra -Wconversion -Wsign-conversion -Wshadow -Wdouble-promotion)
if(BENCH_WERROR)
    target_compile_options(bench_warnings INTERFACE -Werror)
endif()
if(BENCH_TARGET_ARM)
    # GCC's notes about the ARM parameter-passing ABI change of GCC 7 are not warnings about our code.
    target_compile_options(bench_warnings INTERFACE -Wno-psabi)
endif()

if(BENCH_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# bench_program(target [FLAGS flags...] [LINK flags...]): a program, or a library of a program's
# code, with its code-generation flags (processor, floating point, optimisation level, ...) and link
# flags. Programs are plain C-shaped code: no exceptions, no RTTI. The target's options follow the
# configuration's (CMAKE_CXX_FLAGS, an image builder's CXXFLAGS) on the command line, so the level
# given here is the one in effect.
function(bench_program target)
    cmake_parse_arguments(PARSE_ARGV 1 BP "" "" "FLAGS;LINK")
    target_link_libraries(${target} PRIVATE bench_warnings)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti ${BP_FLAGS})
    get_target_property(type ${target} TYPE)
    if(BP_LINK AND type STREQUAL "EXECUTABLE")
        target_link_options(${target} PRIVATE ${BP_LINK})
    endif()
endfunction()

# Which flags shape no code (bench_is_diagnostic).
include(${CMAKE_CURRENT_LIST_DIR}/bench_diagnostic.cmake)

# The option a flag sets: flags with the same key override one another and the last one takes
# effect (-O2 ... -O3; -mfpu=a ... -mfpu=b; -marm ... -mthumb; -fx ... -fno-x; -std=a ... -std=b).
# Any other flag is its own key, as are sanitizer lists and prefix maps, which add up.
function(_bench_flag_key out flag)
    if(flag MATCHES "^-O")
        set(key "-O")
    elseif(flag MATCHES "^-m(arm|thumb)$")
        set(key "-m(arm|thumb)")
    elseif(flag MATCHES "^-std=")
        set(key "-std")
    elseif(flag MATCHES "^-f(no-)?sanitize=" OR flag MATCHES "^-f[a-z]*-prefix-map=")
        set(key "${flag}")   # these add up rather than override
    elseif(flag MATCHES "^-([mf])(no-)?([^=]+)")
        set(key "-${CMAKE_MATCH_1}${CMAKE_MATCH_3}")
    else()
        set(key "${flag}")
    endif()
    set(${out} "${key}" PARENT_SCOPE)
endfunction()

# bench_flags_text(out target): the flags that shaped target's code, as the programs report them.
# The compile flags in command-line order (the configuration's, the target's own and those of the
# libraries it uses, then the language standard) keep, of flags that override one another, only the
# last; then the link flags not named already. Warning and diagnostic options are left out, and so
# are the target's definitions and include folders, which are its own configuration.
function(bench_flags_text out target)
    string(TOUPPER "${CMAKE_BUILD_TYPE}" config)
    separate_arguments(compile UNIX_COMMAND "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${config}}")
    separate_arguments(link UNIX_COMMAND "${CMAKE_EXE_LINKER_FLAGS} ${CMAKE_EXE_LINKER_FLAGS_${config}}")
    get_target_property(options ${target} COMPILE_OPTIONS)
    get_target_property(link_options ${target} LINK_OPTIONS)
    get_target_property(libraries ${target} LINK_LIBRARIES)
    foreach(list options link_options libraries)
        if(NOT ${list})
            set(${list} "")
        endif()
    endforeach()
    list(APPEND compile ${options})
    list(APPEND link ${link_options})
    foreach(library IN LISTS libraries)
        if(TARGET ${library})
            get_target_property(interface ${library} INTERFACE_COMPILE_OPTIONS)
            if(interface)
                list(APPEND compile ${interface})
            endif()
            get_target_property(interface ${library} INTERFACE_LINK_OPTIONS)
            if(interface)
                list(APPEND link ${interface})
            endif()
        endif()
    endforeach()
    get_target_property(standard ${target} CXX_STANDARD)
    get_target_property(extensions ${target} CXX_EXTENSIONS)
    if(standard AND extensions)
        list(APPEND compile ${CMAKE_CXX${standard}_EXTENSION_COMPILE_OPTION})
    elseif(standard)
        list(APPEND compile ${CMAKE_CXX${standard}_STANDARD_COMPILE_OPTION})
    endif()

    set(shaping "")
    foreach(flag IN LISTS compile)
        bench_is_diagnostic(diagnostic "${flag}")
        if(NOT diagnostic)
            list(APPEND shaping "${flag}")
        endif()
    endforeach()
    set(kept "")
    list(LENGTH shaping count)
    set(index 0)
    foreach(flag IN LISTS shaping)
        math(EXPR index "${index} + 1")
        _bench_flag_key(key "${flag}")
        set(overridden FALSE)
        if(index LESS count)
            list(SUBLIST shaping ${index} -1 later)
            foreach(other IN LISTS later)
                _bench_flag_key(other_key "${other}")
                if(other_key STREQUAL key)
                    set(overridden TRUE)
                    break()
                endif()
            endforeach()
        endif()
        if(NOT overridden)
            list(APPEND kept "${flag}")
        endif()
    endforeach()
    foreach(flag IN LISTS link)
        bench_is_diagnostic(diagnostic "${flag}")
        if(NOT diagnostic AND NOT flag IN_LIST kept)
            list(APPEND kept "${flag}")
        endif()
    endforeach()
    list(JOIN kept " " text)
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The runner that executes a built program of this build: qemu for ARM code on another host, nothing natively.
if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(BENCH_RUNNER "${CMAKE_CROSSCOMPILING_EMULATOR}")
else()
    set(BENCH_RUNNER "")
endif()
string(JOIN " " BENCH_RUNNER_TEXT ${BENCH_RUNNER})

if(BUILD_TESTING)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(BENCH_TARGET_ARM)
        target_compile_options(gtest PRIVATE -Wno-psabi)
        target_compile_options(gtest_main PRIVATE -Wno-psabi)
    endif()
    include(GoogleTest)
endif()

# add_unit_test(name sources... LIBS libs...): one GoogleTest binary, its tests listed at test time
# (under qemu in the ARM build).
function(add_unit_test name)
    cmake_parse_arguments(PARSE_ARGV 1 UT "" "" "LIBS")
    add_executable(${name} ${UT_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ${UT_LIBS} GTest::gtest_main bench_warnings)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)   # the shared test helpers
    if(BENCH_TARGET_ARM)
        target_compile_options(${name} PRIVATE -Wno-psabi)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
endfunction()

# add_e2e_test(name script args...): an end-to-end shell test. The script gets BENCH_RUNNER in its
# environment (qemu-arm with its options in the ARM build, empty natively) and the arguments given here.
function(add_e2e_test name script)
    add_test(NAME ${name} COMMAND bash ${script} ${ARGN})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "BENCH_RUNNER=${BENCH_RUNNER_TEXT}")
endfunction()
