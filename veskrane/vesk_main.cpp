// vesk_main.cpp - the run driver, the per-context iteration loop, the expected signatures and mem_name.
#include <cstdint>   // exact-width integers

#include "veskrane.h"

// ---- per-context iteration loop ----

void iterate(run_context *context)
{
    (void)context;
}

// ---- run driver ----

int main(int argc, char *argv[])
{
    (void)argc;
    (void)argv;
    return 0;
}
