# bench.cmake - the project's warning set, target flags, test helpers and GoogleTest.

# True when the build makes ARM code (the cross build, or a native build on the board).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(arm|ARM)")
    set(BENCH_TARGET_ARM ON)
else()
    set(BENCH_TARGET_ARM OFF)
endif()

# The one warning set of the project's own sources; errors on.
add_library(bench_warnings INTERFACE)
target_compile_options(bench_warnings INTERFACE
    -Wall -Wextra -Wconversion -Wsign-conversion -Wshadow -Wdouble-promotion -Werror)
if(BENCH_TARGET_ARM)
    # GCC's notes about the ARM parameter-passing ABI change of GCC 7 are not warnings about our code.
    target_compile_options(bench_warnings INTERFACE -Wno-psabi)
endif()

if(BENCH_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# Programs are plain C-shaped code: no exceptions, no RTTI.
function(bench_program target)
    target_link_libraries(${target} PRIVATE bench_warnings)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
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
