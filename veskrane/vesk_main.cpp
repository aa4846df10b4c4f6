// vesk_main.cpp - the run driver, the per-context iteration loop, the expected signatures and mem_name.
#include <algorithm> // std::max
#include <cstddef>   // size_t
#include <cstdint>   // exact-width integers
#include <cstdio>    // fprintf, printf
#include <iterator>  // std::size

#include "vesk_list_join.h"   // vesk_bench_list, vesk_list_min_size
#include "vesk_matrix.h"      // vesk_matrix_min_size
#include "vesk_state.h"       // vesk_state_min_size
#include "veskrane.h"          // run_context and the entry points of harness and kernels

// ---- per-context iteration loop ----

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

// What the report says about the build; the build passes the real compiler and flags.
#ifndef VESK_COMPILER_VERSION
#define VESK_COMPILER_VERSION "GCC4.6.1"
#endif
#ifndef VESK_COMPILER_FLAGS
#define VESK_COMPILER_FLAGS "-mcpu=cortex-a9 -mfpu=neon -mfloat-abi=softfp -O3 -static -lrt"
#endif
const char vesk_compiler_version[] = VESK_COMPILER_VERSION;
const char vesk_compiler_flags[] = VESK_COMPILER_FLAGS;
static const char parallel_method[] = "Fork";
static const char mem_location[] = "Please put data memory location here\n\t\t\t(e.g. code in flash, data on heap etc)";

// Ways of providing the working memory; this build takes it from the heap (entry 1).
const char *const mem_name[3] = {"Static", "Heap", "Stack"};

constexpr uint16_t default_working_set = 2000;
constexpr uint32_t default_exec_flags = 7;
constexpr uint32_t all_kernels = 7;   // list, matrix, state: the only selections with a defined run

// Smallest kernel area that every kernel lays its data out in (the list's three nodes need most).
constexpr uint32_t min_area = std::max({vesk_list_min_size, vesk_matrix_min_size, vesk_state_min_size});

// The built-in seed sets, recognised by the CRC of the seeds and the kernel area size, and the
// signatures each context must produce for them.
struct seed_set {
    uint16_t seedcrc;
    const char *line;
};
static const seed_set known_seed_sets[] = {
    {0x8a02, "6k performance run parameters for veskrane."},
    {0x7b05, "6k validation run parameters for veskrane."},
    {0x4eaf, "Profile generation run parameters for veskrane."},
    {0xe9f5, "2K performance run parameters for veskrane."},
    {0x18f2, "2K validation run parameters for veskrane."},
};
static const uint16_t list_known_crc[] = {0xd4b0, 0x3340, 0x6a79, 0xe714, 0xe3c1};
static const uint16_t matrix_known_crc[] = {0xbe52, 0x1199, 0x5608, 0x1fd7, 0x0747};
static const uint16_t state_known_crc[] = {0x5e47, 0x39bf, 0xe5a4, 0x8e3a, 0x8d84};

// A context's signatures in report order: the kernel selection bit that makes the report check
// and print one (0: printed always, never checked), its names in the mismatch and signature lines,
// the field and the expected values per seed set.
struct signature_line {
    uint32_t bit;
    const char *kernel;
    const char *label;
    uint16_t run_context::*field;
    const uint16_t *known;
};
static const signature_line signature_lines[] = {
    {1u, "list", "crclist", &run_context::crc_list, list_known_crc},
    {2u, "matrix", "crcmatrix", &run_context::crc_matrix, matrix_known_crc},
    {4u, "state", "crcstate", &run_context::crc_state, state_known_crc},
    {0u, nullptr, "crcfinal", &run_context::crc, nullptr},
};

// Reads seeds, iterations, kernel selection and working-set size into context 0 and applies the
// defaults. Returns the working-set size in bytes, or 0 after printing why the arguments are refused.
static uint32_t read_parameters(run_context *c0, int argc, char *argv[])
{
    c0->seed1 = static_cast<int16_t>(get_seed_args(1, argc, argv));
    c0->seed2 = static_cast<int16_t>(get_seed_args(2, argc, argv));
    c0->seed3 = static_cast<int16_t>(get_seed_args(3, argc, argv));
    c0->iterations = static_cast<uint32_t>(get_seed_args(4, argc, argv));
    c0->exec_flags = static_cast<uint32_t>(get_seed_args(5, argc, argv));
    if (c0->exec_flags == 0)
        c0->exec_flags = default_exec_flags;

    if (c0->seed1 == 0 && c0->seed2 == 0 && c0->seed3 == 0)
        c0->seed3 = 0x66;
    else if (c0->seed1 == 1 && c0->seed2 == 0 && c0->seed3 == 0) {
        c0->seed1 = 0x3415;
        c0->seed2 = 0x3415;
        c0->seed3 = 0x66;
    }

    // The list pass reaches every kernel, so only selections holding all three describe the work done.
    if ((c0->exec_flags & all_kernels) != all_kernels) {
        printf("veskrane: kernel selection \"%s\" reads as 0x%x; use 0 or a value with bits 0, 1 and 2 set "
               "(7: list, matrix and state)\n", argv[5], static_cast<unsigned>(c0->exec_flags));
        return 0;
    }

    const int16_t size = static_cast<int16_t>(get_seed_args(7, argc, argv));
    if (size == 0)
        return default_working_set;
    const int32_t smallest = static_cast<int32_t>(3 * min_area);
    if (size < smallest) {
        printf("veskrane: working-set size \"%s\" reads as %d bytes; use 0 for the default %u, or %d to 32767\n",
               argv[7], static_cast<int>(size), static_cast<unsigned>(default_working_set),
               static_cast<int>(smallest));
        return 0;
    }
    return static_cast<uint32_t>(size);
}

// Gives every context a working block of working_set bytes, context 0's parameters, one area per
// selected kernel and the kernels' initial data. Returns false, with every block released, when a
// block cannot be allocated.
bool vesk_prepare_contexts(run_context contexts[], uint32_t working_set)
{
    run_context *c0 = &contexts[0];
    for (uint32_t i = 0; i < max_contexts; ++i) {
        run_context *c = &contexts[i];
        c->block_size = working_set;
        c->mem_blocks[0] = static_cast<uint8_t *>(portable_malloc(working_set));
        if (c->mem_blocks[0] == nullptr) {
            printf("veskrane: cannot allocate a working block of %u bytes\n", static_cast<unsigned>(working_set));
            for (uint32_t j = 0; j < i; ++j) {
                portable_free(contexts[j].mem_blocks[0]);
                contexts[j].mem_blocks[0] = nullptr;
            }
            return false;
        }
        c->error_count = 0;
        if (i > 0) {
            c->seed1 = c0->seed1;
            c->seed2 = c0->seed2;
            c->seed3 = c0->seed3;
            c->exec_flags = c0->exec_flags;
        }
    }

    uint32_t kernels = 0;
    for (uint32_t bit = 1; bit <= 4; bit <<= 1)
        if (c0->exec_flags & bit)
            ++kernels;
    if (kernels == 0)
        kernels = 1;   // the driver never asks for this; the block then holds no area at all
    for (uint32_t i = 0; i < max_contexts; ++i)
        contexts[i].block_size /= kernels;
    const uint32_t area = c0->block_size;

    for (uint32_t i = 0; i < max_contexts; ++i) {
        run_context *c = &contexts[i];
        uint32_t offset = 0;
        for (uint32_t k = 0; k < 3; ++k) {
            if (c0->exec_flags & (1u << k)) {
                c->mem_blocks[k + 1] = c->mem_blocks[0] + offset;
                offset += area;
            }
        }
        if (c->exec_flags & 1u)
            c->list_head = vesk_list_init(area, c->mem_blocks[1], c->seed1);
        if (c->exec_flags & 2u) {
            const int32_t matrix_seed = static_cast<int32_t>(
                static_cast<uint32_t>(static_cast<int32_t>(c->seed1)) |
                (static_cast<uint32_t>(static_cast<int32_t>(c->seed2)) << 16));
            vesk_init_matrix(area, c->mem_blocks[2], matrix_seed, &c->matrix);
        }
        if (c->exec_flags & 4u)
            vesk_init_state(area, c->seed1, c->mem_blocks[3]);
    }
    return true;
}

// The iteration count for a run of about ten seconds or more, from a trial of trial_iterations
// passes that lasted trial_secs (at least one second): the trial count times 10 / whole seconds + 1.
uint32_t vesk_calibrated_iterations(uint32_t trial_iterations, double trial_secs)
{
    const uint32_t divisor = static_cast<uint32_t>(trial_secs);
    return trial_iterations * (10u / divisor + 1u);
}

// Sizes the run: trials of 10, 100, 1000, ... passes on context 0 until one lasts a second.
static void calibrate(run_context *c0)
{
    c0->iterations = 1;
    double secs = 0.0;
    do {
        c0->iterations *= 10u;
        start_time();
        iterate(c0);
        stop_time();
        secs = time_in_secs(get_time());
    } while (secs < 1.0);
    c0->iterations = vesk_calibrated_iterations(c0->iterations, secs);
}

// Runs the first default_num_contexts contexts at the same time, each in a child process, and
// returns the ticks from before the first start to after the last collection.
static int32_t timed_run(run_context contexts[])
{
    start_time();
    if (default_num_contexts > max_contexts)
        default_num_contexts = max_contexts;
    for (uint16_t i = 0; i < default_num_contexts; ++i) {
        run_context *c = &contexts[i];
        c->iterations = contexts[0].iterations;
        c->exec_flags = contexts[0].exec_flags;
        // A context whose child delivers nothing then reports zeros, not what calibration left.
        c->crc = c->crc_list = c->crc_matrix = c->crc_state = 0;
        vesk_start_parallel(c);
    }
    for (uint16_t i = 0; i < default_num_contexts; ++i)
        vesk_stop_parallel(&contexts[i]);
    stop_time();
    return get_time();
}

// Validates the signatures of the first num_contexts contexts against the recognised seed set and
// writes the report.
void vesk_report(FILE *out, run_context contexts[], uint32_t num_contexts, int32_t total_ticks)
{
    if (num_contexts > max_contexts)
        num_contexts = max_contexts;
    const run_context *c0 = &contexts[0];

    uint16_t seedcrc = 0;
    seedcrc = crc16(c0->seed1, seedcrc);
    seedcrc = crc16(c0->seed2, seedcrc);
    seedcrc = crc16(c0->seed3, seedcrc);
    seedcrc = crc16(static_cast<int16_t>(c0->block_size), seedcrc);

    int16_t seed_set_index = -1;
    for (size_t s = 0; s < std::size(known_seed_sets); ++s)
        if (known_seed_sets[s].seedcrc == seedcrc)
            seed_set_index = static_cast<int16_t>(s);

    int32_t error_total = 0;
    if (seed_set_index >= 0) {
        const size_t s = static_cast<size_t>(seed_set_index);
        fprintf(out, "%s\n", known_seed_sets[s].line);
        for (uint16_t i = 0; i < num_contexts; ++i) {
            run_context *c = &contexts[i];
            c->error_count = 0;
            for (const signature_line &sig : signature_lines) {
                if (sig.known == nullptr || (c->exec_flags & sig.bit) == 0 || c->*sig.field == sig.known[s])
                    continue;
                fprintf(out, "[%u]ERROR! %s crc 0x%04x - should be 0x%04x\n", static_cast<unsigned>(i), sig.kernel,
                        static_cast<unsigned>(c->*sig.field), static_cast<unsigned>(sig.known[s]));
                ++c->error_count;
            }
            error_total += c->error_count;
        }
    }
    error_total += check_data_types();

    const uint32_t total_iterations = num_contexts * c0->iterations;
    const double secs = time_in_secs(total_ticks);
    fprintf(out, "Veskrane Size    : %lu\n", static_cast<unsigned long>(c0->block_size));
    fprintf(out, "Total ticks      : %lu\n", static_cast<unsigned long>(static_cast<uint32_t>(total_ticks)));
    fprintf(out, "Total time (secs): %f\n", secs);
    if (secs > 0.0)
        fprintf(out, "Iterations/Sec   : %f\n", static_cast<double>(total_iterations) / secs);
    if (secs < 10.0) {
        fprintf(out, "ERROR! Must execute for at least 10 secs for a valid result!\n");
        ++error_total;
    }
    fprintf(out, "Iterations       : %lu\n", static_cast<unsigned long>(total_iterations));
    fprintf(out, "Compiler version : %s\n", vesk_compiler_version);
    fprintf(out, "Compiler flags   : %s\n", vesk_compiler_flags);
    fprintf(out, "Parallel %s : %d\n", parallel_method, static_cast<int>(num_contexts));
    fprintf(out, "Memory location  : %s\n", mem_location);
    fprintf(out, "seedcrc          : 0x%04x\n", static_cast<unsigned>(seedcrc));

    for (const signature_line &sig : signature_lines) {
        if (sig.bit != 0 && (c0->exec_flags & sig.bit) == 0)
            continue;
        for (uint16_t i = 0; i < num_contexts; ++i)
            fprintf(out, "[%d]%-14s: 0x%04x\n", static_cast<int>(i), sig.label,
                    static_cast<unsigned>(contexts[i].*sig.field));
    }

    // An unrecognised seed set cannot be validated; a short run or a data-type problem still
    // counts as an error for it, as for a recognised set.
    if (seed_set_index >= 0 && error_total == 0)
        fprintf(out, "Correct operation validated. See readme.txt for run and reporting rules.\n");
    else if (error_total > 0)
        fprintf(out, "Errors detected\n");
    else
        fprintf(out, "Cannot validate operation for these seed values, please compare with results on a known platform.\n");

    if (seed_set_index == 3 && error_total == 0) {
        fprintf(out, "Veskrane 1.0 : %f / %s %s", static_cast<double>(total_iterations) / secs,
                vesk_compiler_version, vesk_compiler_flags);
        fprintf(out, " / %s", mem_name[1]);
        fprintf(out, " / %d:%s", static_cast<int>(num_contexts), parallel_method);
        fprintf(out, "\n");
    }
}

int main(int argc, char *argv[])
{
    // Cleared, so that nothing the run does not write is read as a result.
    run_context contexts[max_contexts] = {};

    portable_init(&contexts[0].port, &argc, argv);
    const uint32_t working_set = read_parameters(&contexts[0], argc, argv);
    // Nothing is allocated or run unless this run has the result segments to itself.
    if (working_set == 0 || vesk_take_run_lock() != vesk_lock::taken) {
        portable_fini(&contexts[0].port);
        return 0;
    }
    if (!vesk_prepare_contexts(contexts, working_set)) {
        vesk_release_run_lock();
        portable_fini(&contexts[0].port);
        return 0;
    }

    if (contexts[0].iterations == 0)
        calibrate(&contexts[0]);
    const int32_t total_ticks = timed_run(contexts);
    vesk_report(stdout, contexts, default_num_contexts, total_ticks);

    for (uint32_t i = 0; i < max_contexts; ++i)
        portable_free(contexts[i].mem_blocks[0]);
    vesk_release_run_lock();
    portable_fini(&contexts[0].port);
    return 0;
}
