// veskrane.h - the records and entry points that veskrane's harness and kernels share.
#pragma once

#include <cstdint>   // exact-width integers
#include <cstdio>    // FILE: the report's stream
#include <ctime>     // timespec: the timer's stamps

struct list_node;

// The matrix workload's parameters: dimension N and the three N x N matrices inside the matrix area.
// C lies on a 4-byte boundary wherever the area allows it; where it cannot, mat_c is null and C is
// reached through mat_c_bytes only.
struct matrix_params {
    uint32_t dim;
    int16_t *mat_a;
    int16_t *mat_b;
    int32_t *mat_c;
    uint8_t *mat_c_bytes;   // C's first byte, wherever C lies
};

// Child-process bookkeeping of one context.
struct port_record {
    int32_t pid;
    int32_t shm_id;
    void *shm_addr;
    uint8_t ready;
};

// One context: seeds, working block and its areas, run settings, the list, the matrices and the
// four signatures. crc, crc_list, crc_matrix and crc_state stay adjacent and in this order: they
// travel between processes as one 8-byte block.
struct run_context {
    int16_t seed1;
    int16_t seed2;
    int16_t seed3;
    uint8_t *mem_blocks[4];   // [0] whole block, [1] list area, [2] matrix area, [3] state area
    uint32_t block_size;
    uint32_t iterations;
    uint32_t exec_flags;      // bit 0 list, bit 1 matrix, bit 2 state
    list_node *list_head;
    matrix_params matrix;
    uint16_t crc;
    uint16_t crc_list;
    uint16_t crc_matrix;
    uint16_t crc_state;
    uint16_t error_count;
    port_record port;
};

// CRC-16 (reflected polynomial 0xA001, no table), value first, running CRC second. vesk_util.cpp.
uint16_t crcu8(uint8_t data, uint16_t crc);
uint16_t crcu16(uint16_t newval, uint16_t crc);
uint16_t crcu32(uint32_t newval, uint16_t crc);
uint16_t crc16(int16_t newval, uint16_t crc);

// Kernel initialisation, called by the driver once per context and selected kernel.
list_node *vesk_list_init(uint32_t block_size, uint8_t *area, int16_t seed);
uint32_t vesk_init_matrix(uint32_t block_size, uint8_t *area, int32_t seed, matrix_params *p);
void vesk_init_state(uint32_t size, int16_t seed, uint8_t *area);

// Runs context->iterations passes and leaves the four signatures in the record.
void iterate(run_context *context);

// ---- harness: run parameters, port layer, parallel contexts and report ----

// Most contexts a run can hold; the context array always has this many records.
constexpr uint32_t max_contexts = 4;

// Run parameters (vesk_util.cpp): one argument text as a 32-bit number, the argument at a position
// (0 when absent), and the data-type self-check (number of problems found).
uint32_t parseval(const char *text);
int32_t get_seed_args(int32_t index, int32_t argc, char *argv[]);
uint8_t check_data_types();

// Port layer (vesk_portme.cpp).
extern uint32_t default_num_contexts;
void *portable_malloc(uint32_t size);
void portable_free(void *block);
void start_time();
void stop_time();
int32_t get_time();
int32_t ticks_between(const timespec &start, const timespec &stop);
double time_in_secs(int32_t ticks);
void portable_init(port_record *port, int *argc, char *argv[]);
void portable_fini(port_record *port);

// Parallel contexts (vesk_portme.cpp): one child process per context, signatures returned through an
// 8-byte System V segment keyed key base + start number. The key base is 4321; tests move it.
void vesk_set_key_base(int32_t base);
int32_t vesk_start_parallel(run_context *context);
int32_t vesk_stop_parallel(run_context *context);

// The run lock: one run at a time holds the segments. Taking it prints the one line that says why
// when it is held by another run or cannot be used; the kernel releases it when the process ends.
enum class vesk_lock : uint8_t { taken, held, failed };
vesk_lock vesk_take_run_lock();
void vesk_release_run_lock();

// Run driver and report (vesk_main.cpp).
extern const char *const mem_name[3];
extern const char vesk_compiler_version[];
extern const char vesk_compiler_flags[];
bool vesk_prepare_contexts(run_context contexts[], uint32_t working_set);
uint32_t vesk_calibrated_iterations(uint32_t trial_iterations, double trial_secs);
void vesk_report(FILE *out, run_context contexts[], uint32_t num_contexts, int32_t total_ticks);
