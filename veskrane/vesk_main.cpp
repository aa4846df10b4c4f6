// vesk_main.cpp - the run driver, the per-context iteration loop, the expected signatures and mem_name.
#include <cstdint>   // exact-width integers

#include "veskrane.h"

// ---- per-context iteration loop ----

#include "vesk_list_join.h"   // vesk_bench_list

// Runs the context's iterations, each a +1 and a -1 list pass, folding the pass results into crc
// after each pass (the pass itself folds its kernel results into crc first). crc_list is crc after
// the first iteration; crc_matrix and crc_state are set by the first kernel results of the run.
void iterate(run_context *context)
{
    context->crc = 0;
    context->crc_list = 0;
    context->crc_matrix = 0;
    context->crc_state = 0;
    for (uint32_t r = 0; r < context->iterations; ++r) {
        uint16_t pass = vesk_bench_list(context, 1);
        context->crc = crcu16(pass, context->crc);
        pass = vesk_bench_list(context, -1);
        context->crc = crcu16(pass, context->crc);
        if (r == 0)
            context->crc_list = context->crc;
    }
}

// ---- run driver ----

int main(int argc, char *argv[])
{
    (void)argc;
    (void)argv;
    return 0;
}
