// memrate_main.cpp - entry point: one argument, the block size in MiB.
#include <cstdio>    // puts

#include "memrate.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        puts("Please enter: [command] [memory size]");
        return 0;
    }
    run_memory_tests(parse_size_mib(argv[1]));
    return 0;
}
