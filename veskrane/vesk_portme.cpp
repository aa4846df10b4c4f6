// vesk_portme.cpp - the port layer (timer, memory, start-up), the run lock and the parallel contexts in child processes.
#include <cerrno>      // errno, ECHILD, EINTR, EAGAIN
#include <cstdint>     // exact-width integers
#include <cstdio>      // printf, puts, fflush
#include <cstdlib>     // malloc, free, exit
#include <cstring>     // memcpy, strerror
#include <ctime>       // clock_gettime
#include <sys/ipc.h>   // IPC_CREAT, IPC_NOWAIT
#include <sys/sem.h>   // semget, semop, SEM_UNDO: the run lock
#include <sys/shm.h>   // shmget, shmat, shmdt
#include <sys/wait.h>  // waitpid
#include <unistd.h>    // fork, getpid

#include "veskrane.h"

// ---- port layer ----

uint32_t default_num_contexts = max_contexts;

static timespec start_time_val;
static timespec stop_time_val;

void *portable_malloc(uint32_t size)
{
    return malloc(size);
}

void portable_free(void *block)
{
    free(block);
}

void start_time()
{
    clock_gettime(CLOCK_REALTIME, &start_time_val);
}

void stop_time()
{
    clock_gettime(CLOCK_REALTIME, &stop_time_val);
}

// Milliseconds from start to stop: whole seconds times 1000 plus the nanosecond difference cut toward
// zero, in 32-bit arithmetic that wraps as on the target.
int32_t ticks_between(const timespec &start, const timespec &stop)
{
    const uint32_t secs = static_cast<uint32_t>(stop.tv_sec) - static_cast<uint32_t>(start.tv_sec);
    const int32_t nsecs = static_cast<int32_t>(stop.tv_nsec - start.tv_nsec);
    const uint32_t ms = secs * 1000u + static_cast<uint32_t>(nsecs / 1000000);
    return static_cast<int32_t>(ms);
}

int32_t get_time()
{
    return ticks_between(start_time_val, stop_time_val);
}

double time_in_secs(int32_t ticks)
{
    return static_cast<double>(ticks) / 1000.0;
}

// A leading "M<count>" sets the number of contexts (at most 4) and is removed from the arguments.
void portable_init(port_record *port, int *argc, char *argv[])
{
    if (*argc > 1 && argv[1][0] == 'M') {
        default_num_contexts = parseval(argv[1] + 1);
        if (default_num_contexts > max_contexts)
            default_num_contexts = max_contexts;
        for (int i = 2; i < *argc; ++i)
            argv[i - 1] = argv[i];
        --*argc;
    }
    port->ready = 1;
}

void portable_fini(port_record *port)
{
    port->ready = 0;
}

// ---- parallel contexts and the run lock ----

static int32_t key_base = 4321;
static int32_t key_id = 0;   // contexts started so far; numbers the segment keys

void vesk_set_key_base(int32_t base)
{
    key_base = base;
    key_id = 0;
}

constexpr size_t signature_bytes = 4 * sizeof(uint16_t);

// Segment key of the context started n-th.
static key_t segment_key(int32_t n)
{
    return static_cast<key_t>(static_cast<uint32_t>(key_base) + static_cast<uint32_t>(n));
}

// ---- run lock ----

// The segment keys are fixed, so two runs at once would share the segments. One System V semaphore,
// keyed like the first segment (semaphore and segment keys do not meet), is 1 while a run holds the
// segments. A run takes it by waiting for 0 and adding 1 in one atomic operation without blocking
// (a new semaphore starts at 0, so there is nothing to initialise). The kernel undoes the 1 when the
// process ends, however it ends; children created by fork inherit no undo and never release it.
static int lock_id = -1;
static pid_t lock_pid = 0;

vesk_lock vesk_take_run_lock()
{
    const int id = semget(segment_key(0), 1, IPC_CREAT | 0666);
    if (id >= 0) {
        sembuf take[2] = {{0, 0, IPC_NOWAIT}, {0, 1, SEM_UNDO | IPC_NOWAIT}};
        if (semop(id, take, 2) == 0) {
            lock_id = id;
            lock_pid = getpid();
            return vesk_lock::taken;
        }
        if (errno == EAGAIN) {
            printf("veskrane: another veskrane run holds the result segments (keys %ld to %ld); not run: "
                   "run one veskrane at a time\n",
                   static_cast<long>(segment_key(0)), static_cast<long>(segment_key(static_cast<int32_t>(max_contexts) - 1)));
            return vesk_lock::held;
        }
    }
    const int err = errno;
    printf("veskrane: cannot take the run lock (System V semaphore key %ld): %s; not run\n",
           static_cast<long>(segment_key(0)), strerror(err));
    return vesk_lock::failed;
}

// Gives the lock back at the end of a run (only in the process that took it). Should this fail, the
// kernel's undo releases it when the process ends a moment later.
void vesk_release_run_lock()
{
    if (lock_id < 0 || lock_pid != getpid())
        return;
    sembuf give[1] = {{0, -1, SEM_UNDO | IPC_NOWAIT}};
    semop(lock_id, give, 1);
    lock_id = -1;
}

// Starts the context in a child process that runs its passes and leaves crc, crc_list, crc_matrix
// and crc_state in the segment. Returns 1 in the driver, 0 when no child could be created; the
// child does not return.
int32_t vesk_start_parallel(run_context *context)
{
    const int32_t n = key_id;
    key_id = n + 1;
    const key_t key = segment_key(n);

    // A line still buffered here would otherwise be written by the child as well.
    fflush(stdout);
    fflush(stderr);
    context->port.pid = fork();
    if (context->port.pid < 0) {
        puts("ERROR in fork!");
        return 0;
    }
    context->port.shm_id = shmget(key, signature_bytes, IPC_CREAT | 0666);
    if (context->port.shm_id < 0)
        puts("ERROR in shmget!");
    if (context->port.pid != 0)
        return 1;

    iterate(context);
    context->port.shm_addr = shmat(context->port.shm_id, nullptr, 0);
    if (context->port.shm_addr == reinterpret_cast<void *>(-1)) {
        puts("ERROR in child shmat!");
        exit(1);   // tells the driver that nothing was delivered
    }
    const uint16_t sig[4] = {context->crc, context->crc_list, context->crc_matrix, context->crc_state};
    memcpy(context->port.shm_addr, sig, signature_bytes);
    shmdt(context->port.shm_addr);
    exit(0);
}

// Waits until the context's child has ended and copies its signatures into the record. Returns 1
// when they were copied, 0 otherwise (the record's signatures are then left as they were).
int32_t vesk_stop_parallel(run_context *context)
{
    const pid_t pid = context->port.pid;
    if (pid <= 0)
        return 0;   // never started; the start reported why

    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        const int err = errno;
        puts("ERROR waiting for child.");
        if (err == ECHILD)
            printf("errno=No such child %d\n", static_cast<int>(pid));
        if (err == EINTR)
            puts("errno=Interrupted");
        return 0;
    }
    context->port.shm_addr = shmat(context->port.shm_id, nullptr, 0);
    if (context->port.shm_addr == reinterpret_cast<void *>(-1)) {
        puts("ERROR in parent shmat!");
        return 0;
    }
    // The segment holds the last run's values until a child writes it: take them only from a child
    // that ended normally after writing.
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        shmdt(context->port.shm_addr);
        printf("ERROR child %d delivered no results.\n", static_cast<int>(pid));
        return 0;
    }
    uint16_t sig[4];
    memcpy(sig, context->port.shm_addr, signature_bytes);
    shmdt(context->port.shm_addr);
    context->crc = sig[0];
    context->crc_list = sig[1];
    context->crc_matrix = sig[2];
    context->crc_state = sig[3];
    return 1;
}
