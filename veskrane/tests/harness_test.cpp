// harness_test.cpp - veskrane's run parameters, timer, start-up, report, parallel contexts and driver.
#include <gtest/gtest.h>

#include <algorithm>       // sort, find
#include <chrono>          // sleeps in the stopped-child test
#include <cstdint>         // exact-width integers
#include <cstdio>          // FILE, stdout, fflush
#include <cstring>         // memcpy
#include <random>          // the fuzz tests
#include <signal.h>        // kill, SIGSTOP, SIGCONT, SIGKILL
#include <string>
#include <sys/ipc.h>       // IPC_CREAT, IPC_EXCL, IPC_RMID
#include <sys/resource.h>  // setrlimit
#include <sys/sem.h>       // semget, semctl: the run lock's semaphore
#include <sys/shm.h>       // shmget, shmat, shmctl
#include <sys/wait.h>      // waitpid
#include <thread>          // the stopped-child test
#include <unistd.h>        // fork, pipe
#include <vector>

#include "capture.h"    // printed, captured: the text the code under test writes
#include "veskrane.h"

int veskrane_main(int argc, char *argv[]);

namespace {

// Segment keys of the test's own: four consecutive keys created exclusively (so no other test or
// run uses them) and removed afterwards. first_size lets a test make the first one too small.
struct test_keys {
    int32_t base = 0;
    int ids[max_contexts] = {-1, -1, -1, -1};

    bool claim(size_t first_size = 8)
    {
        for (uint32_t attempt = 0; attempt < 64; ++attempt) {
            base = static_cast<int32_t>(0x5e000000u + (static_cast<uint32_t>(getpid()) & 0xffffu) * 256u + attempt * 4u);
            uint32_t got = 0;
            for (; got < max_contexts; ++got) {
                const key_t key = static_cast<key_t>(base + static_cast<int32_t>(got));
                ids[got] = shmget(key, got == 0 ? first_size : 8, IPC_CREAT | IPC_EXCL | 0600);
                if (ids[got] < 0)
                    break;
            }
            if (got == max_contexts) {
                vesk_set_key_base(base);
                return true;
            }
            release();
        }
        return false;
    }
    void release()
    {
        for (int &id : ids) {
            if (id >= 0)
                shmctl(id, IPC_RMID, nullptr);
            id = -1;
        }
        // The run lock of a driver run on these keys.
        const int sem = base != 0 ? semget(static_cast<key_t>(base), 0, 0) : -1;
        if (sem >= 0)
            semctl(sem, 0, IPC_RMID);
    }
    ~test_keys() { release(); }
};

// The four signatures a segment holds, in the order crc, crc_list, crc_matrix, crc_state.
std::vector<uint16_t> segment_words(int id)
{
    void *addr = shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void *>(-1))
        return {};
    uint16_t w[4];
    memcpy(w, addr, sizeof w);
    shmdt(addr);
    return {w[0], w[1], w[2], w[3]};
}

size_t segment_size(int id)
{
    shmid_ds ds{};
    return shmctl(id, IPC_STAT, &ds) == 0 ? ds.shm_segsz : 0;
}

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Runs the whole program in this process on the given arguments, with the keys set last.
std::string run_main(std::vector<std::string> args)
{
    args.insert(args.begin(), "veskrane");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    default_num_contexts = max_contexts;
    return captured(stdout, [&] { veskrane_main(static_cast<int>(args.size()), argv.data()); });
}

// Runs the whole program in this process on the given arguments, with the test's own keys.
std::string run_driver(std::vector<std::string> args)
{
    test_keys keys;
    if (!keys.claim())
        return "no free segment keys";
    return run_main(std::move(args));
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
        lines.push_back(text.substr(from, nl - from));
    if (from < text.size())
        lines.push_back(text.substr(from));
    return lines;
}

} // namespace

// ---- run parameters ----

TEST(Parseval, Forms)
{
    struct { const char *text; uint32_t want; } const cases[] = {
        {"2000", 2000}, {"2K", 2048}, {"1M", 1048576}, {"0x3415", 13333}, {"0x1fK", 31u << 10},
        {"-0x10", 0xfffffff0u}, {"-5", 0xfffffffbu}, {"0X10", 0}, {"0xAB", 0}, {"0x", 0},
        {"12abc", 12}, {"5k", 5}, {"+5", 0}, {"--5", 0}, {" 5", 0}, {"K", 0}, {"007", 7},
        {"4294967297", 1}, {"", 0}, {"-", 0}, {"-K", 0}, {"0xffffffffK", 0xfffffc00u},
        {"65537", 65537}, {"0xffff", 0xffff}, {"64K", 65536}, {"3M7", 3u << 20}, {"0", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.want, parseval(c.text));
    }
}

TEST(GetSeedArgs, PositionsAndAbsence)
{
    char prog[] = "veskrane", a1[] = "7", a2[] = "0xffff", a3[] = "-2";
    char *argv[] = {prog, a1, a2, a3, nullptr};
    EXPECT_EQ(7, get_seed_args(1, 4, argv));
    EXPECT_EQ(0xffff, get_seed_args(2, 4, argv));
    EXPECT_EQ(-2, get_seed_args(3, 4, argv));
    EXPECT_EQ(0, get_seed_args(4, 4, argv));
    EXPECT_EQ(0, get_seed_args(7, 4, argv));
    EXPECT_EQ(0, get_seed_args(-1, 4, argv));
}

TEST(CheckDataTypes, NoProblemsOnThisBuild)
{
    EXPECT_EQ(0, check_data_types());
}

// ---- port layer ----

TEST(Timer, TicksBetweenStamps)
{
    struct { long s0, ns0, s1, ns1; int32_t want; } const cases[] = {
        {100, 0, 100, 0, 0},
        {100, 0, 100, 999999999, 999},
        {100, 900000000, 102, 400000000, 1500},   // the negative nanosecond part is cut toward zero
        {100, 900000500, 102, 400000000, 1500},
        {100, 500, 100, 900000000, 899},          // difference first, then the cut
        {5, 0, 4, 0, -1000},                      // the wall clock went back
        {0, 0, 2147484, 0, static_cast<int32_t>(2147484000u)},   // wraps as the 32-bit target does
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.want);
        timespec a{}, b{};
        a.tv_sec = c.s0;
        a.tv_nsec = c.ns0;
        b.tv_sec = c.s1;
        b.tv_nsec = c.ns1;
        EXPECT_EQ(c.want, ticks_between(a, b));
    }
    EXPECT_EQ(0.0, time_in_secs(0));
    EXPECT_EQ(0.999, time_in_secs(999));
    EXPECT_EQ(0.5, time_in_secs(500));
    EXPECT_EQ(-1.0, time_in_secs(-1000));
}

TEST(PortableInit, ContextCountArgument)
{
    struct { std::vector<std::string> args; uint32_t contexts; std::vector<std::string> left; } const cases[] = {
        {{"M2", "1", "0", "0"}, 2, {"1", "0", "0"}},
        {{"M9"}, 4, {}},
        {{"M-1", "5"}, 4, {"5"}},
        {{"M0"}, 0, {}},
        {{"M"}, 0, {}},
        {{"Mx"}, 0, {}},
        {{"M0x3", "7"}, 3, {"7"}},
        {{"M3"}, 3, {}},
        {{"m3", "1"}, 4, {"m3", "1"}},
        {{"3"}, 4, {"3"}},
        {{}, 4, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "veskrane");
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int argc = static_cast<int>(args.size());
        port_record port{};
        default_num_contexts = max_contexts;
        portable_init(&port, &argc, argv.data());
        EXPECT_EQ(c.contexts, default_num_contexts);
        EXPECT_EQ(1, port.ready);
        ASSERT_EQ(c.left.size() + 1, static_cast<size_t>(argc));
        for (size_t i = 0; i < c.left.size(); ++i)
            EXPECT_EQ(c.left[i], argv[i + 1]);
        portable_fini(&port);
        EXPECT_EQ(0, port.ready);
    }
    default_num_contexts = max_contexts;
}

// ---- calibration ----

TEST(Calibration, ScalesTheTrialToTenSecondsOrMore)
{
    struct { uint32_t trial; double secs; uint32_t want; } const cases[] = {
        {1000, 3.7, 4000}, {10, 12.0, 10}, {10, 1.0, 110}, {100, 1.999, 1100}, {100, 2.0, 600},
        {1000, 4.5, 3000}, {1000, 5.99, 3000}, {10000, 6.0, 20000}, {10000, 10.999, 20000},
        {10000, 11.0, 10000}, {1000000000, 1.5, 2410065408u},   // the product wraps at 32 bits
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.secs);
        EXPECT_EQ(c.want, vesk_calibrated_iterations(c.trial, c.secs));
    }
}

// ---- report ----

namespace {

struct report_case {
    const char *name;
    int16_t seeds[3];
    uint32_t block_size;
    uint32_t exec_flags;
    uint32_t iterations;
    uint32_t num_contexts;
    int32_t ticks;
    uint16_t list, matrix, state;   // every reported context's signatures
    int bad_context;                // this context's list signature is 0xbad0 instead (-1: none)
    const char *want;               // whole report; {V} and {F} stand for the build texts
};

const char memory_lines[] = "Memory location  : Please put data memory location here\n"
                            "\t\t\t(e.g. code in flash, data on heap etc)\n";

std::string expand(const char *want)
{
    std::string text = replace_all(want, "{M}", memory_lines);
    text = replace_all(text, "{V}", vesk_compiler_version);
    return replace_all(text, "{F}", vesk_compiler_flags);
}

} // namespace

TEST(Report, WholeTexts)
{
    const report_case cases[] = {
        {"default run, four contexts, 12 s", {0, 0, 0x66}, 666, 7, 1000, 4, 12000, 0xe714, 0x1fd7, 0x8e3a, -1,
         "2K performance run parameters for veskrane.\n"
         "Veskrane Size    : 666\n"
         "Total ticks      : 12000\n"
         "Total time (secs): 12.000000\n"
         "Iterations/Sec   : 333.333333\n"
         "Iterations       : 4000\n"
         "Compiler version : {V}\n"
         "Compiler flags   : {F}\n"
         "Parallel Fork : 4\n"
         "{M}"
         "seedcrc          : 0xe9f5\n"
         "[0]crclist       : 0xe714\n[1]crclist       : 0xe714\n[2]crclist       : 0xe714\n[3]crclist       : 0xe714\n"
         "[0]crcmatrix     : 0x1fd7\n[1]crcmatrix     : 0x1fd7\n[2]crcmatrix     : 0x1fd7\n[3]crcmatrix     : 0x1fd7\n"
         "[0]crcstate      : 0x8e3a\n[1]crcstate      : 0x8e3a\n[2]crcstate      : 0x8e3a\n[3]crcstate      : 0x8e3a\n"
         "[0]crcfinal      : 0x0f00\n[1]crcfinal      : 0x0f01\n[2]crcfinal      : 0x0f02\n[3]crcfinal      : 0x0f03\n"
         "Correct operation validated. See readme.txt for run and reporting rules.\n"
         "Veskrane 1.0 : 333.333333 / {V} {F} / Heap / 4:Fork\n"},
        {"default run of 5 s", {0, 0, 0x66}, 666, 7, 500, 1, 5000, 0xe714, 0x1fd7, 0x8e3a, -1,
         "2K performance run parameters for veskrane.\n"
         "Veskrane Size    : 666\n"
         "Total ticks      : 5000\n"
         "Total time (secs): 5.000000\n"
         "Iterations/Sec   : 100.000000\n"
         "ERROR! Must execute for at least 10 secs for a valid result!\n"
         "Iterations       : 500\n"
         "Compiler version : {V}\n"
         "Compiler flags   : {F}\n"
         "Parallel Fork : 1\n"
         "{M}"
         "seedcrc          : 0xe9f5\n"
         "[0]crclist       : 0xe714\n[0]crcmatrix     : 0x1fd7\n[0]crcstate      : 0x8e3a\n[0]crcfinal      : 0x0f00\n"
         "Errors detected\n"},
        {"2K validation set, no summary line", {0x3415, 0x3415, 0x66}, 666, 7, 3, 2, 10000, 0xe3c1, 0x0747, 0x8d84, -1,
         "2K validation run parameters for veskrane.\n"
         "Veskrane Size    : 666\n"
         "Total ticks      : 10000\n"
         "Total time (secs): 10.000000\n"
         "Iterations/Sec   : 0.600000\n"
         "Iterations       : 6\n"
         "Compiler version : {V}\n"
         "Compiler flags   : {F}\n"
         "Parallel Fork : 2\n"
         "{M}"
         "seedcrc          : 0x18f2\n"
         "[0]crclist       : 0xe3c1\n[1]crclist       : 0xe3c1\n"
         "[0]crcmatrix     : 0x0747\n[1]crcmatrix     : 0x0747\n"
         "[0]crcstate      : 0x8d84\n[1]crcstate      : 0x8d84\n"
         "[0]crcfinal      : 0x0f00\n[1]crcfinal      : 0x0f01\n"
         "Correct operation validated. See readme.txt for run and reporting rules.\n"},
        {"unrecognised seeds, long run", {1, 2, 3}, 666, 7, 10, 1, 20000, 0x1111, 0x2222, 0x3333, -1,
         "Veskrane Size    : 666\n"
         "Total ticks      : 20000\n"
         "Total time (secs): 20.000000\n"
         "Iterations/Sec   : 0.500000\n"
         "Iterations       : 10\n"
         "Compiler version : {V}\n"
         "Compiler flags   : {F}\n"
         "Parallel Fork : 1\n"
         "{M}"
         "seedcrc          : 0x0b2b\n"
         "[0]crclist       : 0x1111\n[0]crcmatrix     : 0x2222\n[0]crcstate      : 0x3333\n[0]crcfinal      : 0x0f00\n"
         "Cannot validate operation for these seed values, please compare with results on a known platform.\n"},
        {"unrecognised seeds, short run", {1, 2, 3}, 666, 7, 10, 1, 9999, 0x1111, 0x2222, 0x3333, -1,
         "Veskrane Size    : 666\n"
         "Total ticks      : 9999\n"
         "Total time (secs): 9.999000\n"
         "Iterations/Sec   : 1.000100\n"
         "ERROR! Must execute for at least 10 secs for a valid result!\n"
         "Iterations       : 10\n"
         "Compiler version : {V}\n"
         "Compiler flags   : {F}\n"
         "Parallel Fork : 1\n"
         "{M}"
         "seedcrc          : 0x0b2b\n"
         "[0]crclist       : 0x1111\n[0]crcmatrix     : 0x2222\n[0]crcstate      : 0x3333\n[0]crcfinal      : 0x0f00\n"
         "Errors detected\n"},
        {"no context, no time", {0, 0, 0x66}, 666, 7, 1000, 0, 0, 0, 0, 0, -1,
         "2K performance run parameters for veskrane.\n"
         "Veskrane Size    : 666\n"
         "Total ticks      : 0\n"
         "Total time (secs): 0.000000\n"
         "ERROR! Must execute for at least 10 secs for a valid result!\n"
         "Iterations       : 0\n"
         "Compiler version : {V}\n"
         "Compiler flags   : {F}\n"
         "Parallel Fork : 0\n"
         "{M}"
         "seedcrc          : 0xe9f5\n"
         "Errors detected\n"},
        {"one wrong list signature", {0, 0, 0x66}, 666, 7, 100, 2, 15000, 0xe714, 0x1fd7, 0x8e3a, 1,
         "2K performance run parameters for veskrane.\n"
         "[1]ERROR! list crc 0xbad0 - should be 0xe714\n"
         "Veskrane Size    : 666\n"
         "Total ticks      : 15000\n"
         "Total time (secs): 15.000000\n"
         "Iterations/Sec   : 13.333333\n"
         "Iterations       : 200\n"
         "Compiler version : {V}\n"
         "Compiler flags   : {F}\n"
         "Parallel Fork : 2\n"
         "{M}"
         "seedcrc          : 0xe9f5\n"
         "[0]crclist       : 0xe714\n[1]crclist       : 0xbad0\n"
         "[0]crcmatrix     : 0x1fd7\n[1]crcmatrix     : 0x1fd7\n"
         "[0]crcstate      : 0x8e3a\n[1]crcstate      : 0x8e3a\n"
         "[0]crcfinal      : 0x0f00\n[1]crcfinal      : 0x0f01\n"
         "Errors detected\n"},
        {"all signatures wrong, 6k set; iteration product wraps", {0, 0, 0x66}, 2000, 0xf, 0x80000000u, 2, 20000,
         1, 2, 3, -1,
         "6k performance run parameters for veskrane.\n"
         "[0]ERROR! list crc 0x0001 - should be 0xd4b0\n"
         "[0]ERROR! matrix crc 0x0002 - should be 0xbe52\n"
         "[0]ERROR! state crc 0x0003 - should be 0x5e47\n"
         "[1]ERROR! list crc 0x0001 - should be 0xd4b0\n"
         "[1]ERROR! matrix crc 0x0002 - should be 0xbe52\n"
         "[1]ERROR! state crc 0x0003 - should be 0x5e47\n"
         "Veskrane Size    : 2000\n"
         "Total ticks      : 20000\n"
         "Total time (secs): 20.000000\n"
         "Iterations/Sec   : 0.000000\n"
         "Iterations       : 0\n"
         "Compiler version : {V}\n"
         "Compiler flags   : {F}\n"
         "Parallel Fork : 2\n"
         "{M}"
         "seedcrc          : 0x8a02\n"
         "[0]crclist       : 0x0001\n[1]crclist       : 0x0001\n"
         "[0]crcmatrix     : 0x0002\n[1]crcmatrix     : 0x0002\n"
         "[0]crcstate      : 0x0003\n[1]crcstate      : 0x0003\n"
         "[0]crcfinal      : 0x0f00\n[1]crcfinal      : 0x0f01\n"
         "Errors detected\n"},
        {"clock went back", {8, 8, 8}, 400, 7, 1, 1, -2500, 0x6a79, 0x5608, 0xe5a4, -1,
         "Profile generation run parameters for veskrane.\n"
         "Veskrane Size    : 400\n"
         "Total ticks      : 4294964796\n"
         "Total time (secs): -2.500000\n"
         "ERROR! Must execute for at least 10 secs for a valid result!\n"
         "Iterations       : 1\n"
         "Compiler version : {V}\n"
         "Compiler flags   : {F}\n"
         "Parallel Fork : 1\n"
         "{M}"
         "seedcrc          : 0x4eaf\n"
         "[0]crclist       : 0x6a79\n[0]crcmatrix     : 0x5608\n[0]crcstate      : 0xe5a4\n[0]crcfinal      : 0x0f00\n"
         "Errors detected\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        run_context contexts[max_contexts] = {};
        for (uint32_t i = 0; i < max_contexts; ++i) {
            run_context &r = contexts[i];
            r.seed1 = c.seeds[0];
            r.seed2 = c.seeds[1];
            r.seed3 = c.seeds[2];
            r.block_size = c.block_size;
            r.exec_flags = c.exec_flags;
            r.iterations = c.iterations;
            r.crc = static_cast<uint16_t>(0x0f00 + i);
            r.crc_list = static_cast<int>(i) == c.bad_context ? 0xbad0 : c.list;
            r.crc_matrix = c.matrix;
            r.crc_state = c.state;
            r.error_count = 77;
        }
        EXPECT_EQ(expand(c.want), printed([&](FILE *out) { vesk_report(out, contexts, c.num_contexts, c.ticks); }));
        if (c.bad_context >= 0) {
            EXPECT_EQ(1, contexts[c.bad_context].error_count);
        }
    }
}

TEST(Report, BuildTextsNameThisBuild)
{
    // The build passes the compiler that made it and the options of the program target.
    EXPECT_EQ(0, std::string(vesk_compiler_version).rfind("GCC", 0));
    EXPECT_NE("GCC4.6.1", std::string(vesk_compiler_version));
    EXPECT_NE(std::string::npos, std::string(vesk_compiler_flags).find("-fno-exceptions"));
}

// ---- parallel contexts ----

namespace {

// Four contexts prepared as the driver prepares them, to be run iterations passes each.
struct prepared_contexts {
    run_context c[max_contexts] = {};

    bool prepare(int16_t s1, int16_t s2, int16_t s3, uint32_t working_set, uint32_t iterations)
    {
        c[0].seed1 = s1;
        c[0].seed2 = s2;
        c[0].seed3 = s3;
        c[0].exec_flags = 7;
        if (!vesk_prepare_contexts(c, working_set))
            return false;
        for (run_context &r : c)
            r.iterations = iterations;
        return true;
    }
    ~prepared_contexts()
    {
        for (run_context &r : c)
            portable_free(r.mem_blocks[0]);
    }
};

} // namespace

TEST(Prepare, AreasSeedsAndMatrixSeed)
{
    prepared_contexts p;
    ASSERT_TRUE(p.prepare(-1, 5, 0x66, 2000, 1));
    for (uint32_t i = 0; i < max_contexts; ++i) {
        SCOPED_TRACE(i);
        const run_context &c = p.c[i];
        EXPECT_EQ(666u, c.block_size);
        EXPECT_EQ(c.mem_blocks[0], c.mem_blocks[1]);
        EXPECT_EQ(c.mem_blocks[0] + 666, c.mem_blocks[2]);
        EXPECT_EQ(c.mem_blocks[0] + 1332, c.mem_blocks[3]);
        EXPECT_EQ(-1, c.seed1);
        EXPECT_EQ(5, c.seed2);
        EXPECT_EQ(0x66, c.seed3);
        EXPECT_EQ(7u, c.exec_flags);
        EXPECT_NE(nullptr, c.list_head);
        // Filled from the combined matrix seed, -1 here: A begins 1, 2 and B begins 0, 0, -3.
        ASSERT_EQ(9u, c.matrix.dim);
        EXPECT_EQ(1, c.matrix.mat_a[0]);
        EXPECT_EQ(2, c.matrix.mat_a[1]);
        EXPECT_EQ(0, c.matrix.mat_b[1]);
        EXPECT_EQ(-3, c.matrix.mat_b[2]);
    }
}

TEST(Parallel, FourContextsReturnTheirSignaturesThroughTheirSegments)
{
    test_keys keys;
    ASSERT_TRUE(keys.claim());
    prepared_contexts p;
    ASSERT_TRUE(p.prepare(0, 0, 0x66, 2000, 2));

    for (int run = 0; run < 2; ++run) {   // a second run reuses the same segments
        SCOPED_TRACE(run);
        vesk_set_key_base(keys.base);
        int32_t started[max_contexts] = {}, stopped[max_contexts] = {};
        const std::string out = captured(stdout, [&] {
            for (uint32_t i = 0; i < max_contexts; ++i)
                started[i] = vesk_start_parallel(&p.c[i]);
            for (uint32_t i = 0; i < max_contexts; ++i)
                stopped[i] = vesk_stop_parallel(&p.c[i]);
        });
        EXPECT_EQ("", out);
        for (uint32_t i = 0; i < max_contexts; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(1, started[i]);
            EXPECT_EQ(1, stopped[i]);
            EXPECT_EQ(keys.ids[i], p.c[i].port.shm_id);
            EXPECT_EQ(0xe714, p.c[i].crc_list);
            EXPECT_EQ(0x1fd7, p.c[i].crc_matrix);
            EXPECT_EQ(0x8e3a, p.c[i].crc_state);
            EXPECT_EQ(p.c[0].crc, p.c[i].crc);
            EXPECT_EQ(8u, segment_size(keys.ids[i]));
            const std::vector<uint16_t> want = {p.c[i].crc, p.c[i].crc_list, p.c[i].crc_matrix, p.c[i].crc_state};
            EXPECT_EQ(want, segment_words(keys.ids[i]));
        }
    }
}

TEST(Parallel, SegmentTooSmallIsReportedAndNothingCollected)
{
    test_keys keys;
    ASSERT_TRUE(keys.claim(4));
    prepared_contexts p;
    ASSERT_TRUE(p.prepare(0, 0, 0x66, 2000, 1));
    int32_t stopped = -1;
    const std::string out = captured(stdout, [&] {
        vesk_start_parallel(&p.c[0]);
        stopped = vesk_stop_parallel(&p.c[0]);
    });
    EXPECT_EQ(0, stopped);
    EXPECT_EQ(0, p.c[0].crc_list);
    // Driver and child each report the refused segment; the order of the two processes' lines varies.
    std::vector<std::string> lines = lines_of(out);
    std::sort(lines.begin(), lines.end());
    const std::vector<std::string> want = {"ERROR in child shmat!", "ERROR in parent shmat!", "ERROR in shmget!",
                                           "ERROR in shmget!"};
    EXPECT_EQ(want, lines);
}

TEST(Parallel, StoppedChildIsWaitedForUntilItEnds)
{
    test_keys keys;
    ASSERT_TRUE(keys.claim());
    prepared_contexts p;
    ASSERT_TRUE(p.prepare(0, 0, 0x66, 2000, 200));
    int32_t stopped = -1;
    const std::string out = captured(stdout, [&] {
        vesk_start_parallel(&p.c[0]);
        kill(p.c[0].port.pid, SIGSTOP);
        std::thread resume([pid = p.c[0].port.pid] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            kill(pid, SIGCONT);
        });
        stopped = vesk_stop_parallel(&p.c[0]);
        resume.join();
    });
    EXPECT_EQ("", out);
    EXPECT_EQ(1, stopped);
    EXPECT_EQ(0xe714, p.c[0].crc_list);
    EXPECT_EQ(0x1fd7, p.c[0].crc_matrix);
    EXPECT_EQ(0x8e3a, p.c[0].crc_state);
}

TEST(Parallel, StaleSegmentIsNotTakenFromAChildThatDidNotFinish)
{
    test_keys keys;
    ASSERT_TRUE(keys.claim());
    // The segment still holds a correct earlier result.
    void *addr = shmat(keys.ids[0], nullptr, 0);
    ASSERT_NE(reinterpret_cast<void *>(-1), addr);
    const uint16_t earlier[4] = {0x1234, 0xe714, 0x1fd7, 0x8e3a};
    memcpy(addr, earlier, sizeof earlier);
    shmdt(addr);

    prepared_contexts p;
    ASSERT_TRUE(p.prepare(0, 0, 0x66, 2000, 100000000));
    int32_t stopped = -1;
    pid_t pid = 0;
    const std::string out = captured(stdout, [&] {
        vesk_start_parallel(&p.c[0]);
        pid = p.c[0].port.pid;
        kill(pid, SIGKILL);
        stopped = vesk_stop_parallel(&p.c[0]);
    });
    EXPECT_EQ("ERROR child " + std::to_string(pid) + " delivered no results.\n", out);
    EXPECT_EQ(0, stopped);
    EXPECT_EQ(0, p.c[0].crc_list);
}

TEST(Parallel, FailedForkIsReportedAndNotWaitedFor)
{
    if (getuid() != 0) {
        GTEST_SKIP() << "needs to change to an unprivileged user";
    }
    test_keys keys;
    ASSERT_TRUE(keys.claim());
    prepared_contexts p;
    ASSERT_TRUE(p.prepare(0, 0, 0x66, 2000, 1));
    int status = -1;
    const std::string text = captured(stdout, [&] {
        // In a helper process of an unprivileged user allowed no further process, with a child of its
        // own still running: a wait for any child would hang on that one.
        const pid_t helper = fork();
        ASSERT_GE(helper, 0);
        if (helper == 0) {
            int hold[2];
            if (pipe(hold) != 0)
                _exit(2);
            const pid_t sleeper = fork();
            if (sleeper == 0) {   // lives until the helper has ended and closed the pipe
                close(hold[1]);
                char ch;
                while (read(hold[0], &ch, 1) > 0) {
                }
                _exit(0);
            }
            close(hold[0]);
            rlimit none{0, 0};
            if (setgid(65534) != 0 || setuid(65534) != 0 || setrlimit(RLIMIT_NPROC, &none) != 0)
                _exit(3);
            const int32_t started = vesk_start_parallel(&p.c[0]);
            const int32_t stopped = vesk_stop_parallel(&p.c[0]);
            fflush(stdout);
            _exit(started == 0 && stopped == 0 && p.c[0].port.pid < 0 ? 0 : 4);
        }
        if (waitpid(helper, &status, 0) != helper)
            status = -1;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ("ERROR in fork!\n", text);
}

TEST(Parallel, FailedAllocationReleasesEveryBlock)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be combined with the sanitizer's shadow memory";
#else
    int status = -1;
    const std::string text = captured(stdout, [&] {
        const pid_t helper = fork();
        ASSERT_GE(helper, 0);
        if (helper == 0) {
            rlimit two_gib{2048u << 20, 2048u << 20};
            setrlimit(RLIMIT_AS, &two_gib);
            run_context c[max_contexts] = {};
            c[0].exec_flags = 7;
            const bool ok = vesk_prepare_contexts(c, 0xc0000000u);
            fflush(stdout);
            _exit(!ok && c[0].mem_blocks[0] == nullptr ? 0 : 4);
        }
        if (waitpid(helper, &status, 0) != helper)
            status = -1;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ("veskrane: cannot allocate a working block of 3221225472 bytes\n", text);
#endif
}

// ---- run lock ----

namespace {

// The value of the run lock's semaphore for a key base (1 while held), -1 when there is none.
int lock_value(int32_t base)
{
    const int id = semget(static_cast<key_t>(base), 0, 0);
    return id < 0 ? -1 : semctl(id, 0, GETVAL);
}

std::string refusal(int32_t base)
{
    return "veskrane: another veskrane run holds the result segments (keys " + std::to_string(base) + " to " +
           std::to_string(base + 3) + "); not run: run one veskrane at a time\n";
}

// Another process that takes the run lock and ends, without giving it back, when end() closes its pipe.
struct lock_holder {
    pid_t pid = -1;
    int hold_fd = -1;

    vesk_lock start()
    {
        int ready[2], hold[2];
        if (pipe(ready) != 0 || pipe(hold) != 0)
            return vesk_lock::failed;
        fflush(stdout);
        pid = fork();
        if (pid == 0) {
            close(ready[0]);
            close(hold[1]);
            const uint8_t got = static_cast<uint8_t>(vesk_take_run_lock());
            if (write(ready[1], &got, 1) != 1)
                _exit(2);
            char ch;
            while (read(hold[0], &ch, 1) > 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(hold[0]);
        hold_fd = hold[1];
        uint8_t got = static_cast<uint8_t>(vesk_lock::failed);
        if (pid < 0 || read(ready[0], &got, 1) != 1)
            got = static_cast<uint8_t>(vesk_lock::failed);
        close(ready[0]);
        return static_cast<vesk_lock>(got);
    }
    void end()
    {
        if (hold_fd >= 0)
            close(hold_fd);
        hold_fd = -1;
        if (pid > 0)
            waitpid(pid, nullptr, 0);
        pid = -1;
    }
    ~lock_holder() { end(); }
};

} // namespace

TEST(RunLock, HeldByAnotherRunAndReleasedWhenItEnds)
{
    test_keys keys;
    ASSERT_TRUE(keys.claim());
    lock_holder holder;
    ASSERT_EQ(vesk_lock::taken, holder.start());
    EXPECT_EQ(1, lock_value(keys.base));

    vesk_lock got = vesk_lock::taken;
    EXPECT_EQ(refusal(keys.base), captured(stdout, [&] { got = vesk_take_run_lock(); }));
    EXPECT_EQ(vesk_lock::held, got);
    // The driver checks its arguments first, then refuses with that one line and does nothing else.
    EXPECT_EQ(refusal(keys.base), run_main({"M1", "0", "0", "0", "1"}));
    EXPECT_EQ(refusal(keys.base), run_main({"0", "0", "0"}));
    EXPECT_EQ("veskrane: kernel selection \"3\" reads as 0x3; use 0 or a value with bits 0, 1 and 2 set "
              "(7: list, matrix and state)\n",
              run_main({"0", "0", "0", "1", "3"}));
    EXPECT_EQ(1, lock_value(keys.base));

    // The holder ends without giving the lock back: the kernel releases it.
    holder.end();
    EXPECT_EQ(0, lock_value(keys.base));
    const std::vector<std::string> lines = lines_of(run_main({"M1", "0", "0", "0", "1"}));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("2K performance run parameters for veskrane.", lines[0]);
    EXPECT_EQ(0, lock_value(keys.base));   // given back at the end of the run
}

TEST(RunLock, FreeLockIsTakenAndChildrenNeverReleaseIt)
{
    test_keys keys;
    ASSERT_TRUE(keys.claim());
    prepared_contexts p;
    ASSERT_TRUE(p.prepare(0, 0, 0x66, 2000, 1));
    vesk_lock got = vesk_lock::failed;
    EXPECT_EQ("", captured(stdout, [&] { got = vesk_take_run_lock(); }));
    ASSERT_EQ(vesk_lock::taken, got);
    EXPECT_EQ(1, lock_value(keys.base));

    // A context's child ends without releasing it (children inherit no undo), and a child that
    // calls the release itself finds it still held afterwards.
    int status = -1;
    const std::string out = captured(stdout, [&] {
        vesk_start_parallel(&p.c[0]);
        vesk_stop_parallel(&p.c[0]);
        const pid_t child = fork();
        if (child == 0) {
            vesk_release_run_lock();
            _exit(lock_value(keys.base) == 1 ? 0 : 1);
        }
        if (child < 0 || waitpid(child, &status, 0) != child)
            status = -1;
    });
    EXPECT_EQ("", out);
    EXPECT_EQ(0xe714, p.c[0].crc_list);
    EXPECT_EQ(1, lock_value(keys.base));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));

    lock_holder other;
    EXPECT_EQ(vesk_lock::held, other.start());
    other.end();
    vesk_release_run_lock();
    EXPECT_EQ(0, lock_value(keys.base));
}

TEST(RunLock, UnusableSemaphoreIsOneLineAndNoRun)
{
    if (getuid() != 0) {
        GTEST_SKIP() << "needs to change to an unprivileged user";
    }
    test_keys keys;
    ASSERT_TRUE(keys.claim());
    // A semaphore with the lock's key that only its owner (root) may use.
    ASSERT_GE(semget(static_cast<key_t>(keys.base), 1, IPC_CREAT | IPC_EXCL | 0600), 0);
    int status = -1;
    const std::string text = captured(stdout, [&] {
        const pid_t helper = fork();
        ASSERT_GE(helper, 0);
        if (helper == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(3);
            std::string arg0 = "veskrane", arg1 = "M1", arg2 = "1";
            char *argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
            veskrane_main(3, argv);
            fflush(stdout);
            _exit(0);
        }
        if (waitpid(helper, &status, 0) != helper)
            status = -1;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ("veskrane: cannot take the run lock (System V semaphore key " + std::to_string(keys.base) +
                  "): Permission denied; not run\n",
              text);
}

// ---- the whole driver ----

TEST(Driver, SeedDefaultsAndSizesPickTheSeedSet)
{
    struct { std::vector<std::string> args; const char *first_line; } const cases[] = {
        {{"M1", "0", "0", "0", "1"}, "2K performance run parameters for veskrane."},
        {{"M1", "1", "0", "0", "1"}, "2K validation run parameters for veskrane."},
        {{"M1", "65537", "0", "0", "1"}, "2K validation run parameters for veskrane."},
        {{"M1", "0", "0", "0", "1", "0", "0", "64K"}, "2K performance run parameters for veskrane."},
        {{"M1", "0", "0", "0", "1", "0", "0", "6000"}, "6k performance run parameters for veskrane."},
        {{"M1", "1", "0", "0", "1", "7", "0", "6000"}, "6k validation run parameters for veskrane."},
        {{"M1", "8", "8", "8", "1", "0xf", "0", "1200"}, "Profile generation run parameters for veskrane."},
        {{"M1", "0", "0", "5", "1"}, "Veskrane Size    : 666"},
        {{"M1", "1", "0", "5", "1"}, "Veskrane Size    : 666"},
        {{"M1", "0", "1", "0", "1"}, "Veskrane Size    : 666"},
        {{"M1", "0xffff", "5", "0", "1", "0", "0", "360"}, "Veskrane Size    : 120"},
    };
    for (const auto &c : cases) {
        std::string label;
        for (const std::string &a : c.args)
            label += a + " ";
        SCOPED_TRACE(label);
        const std::vector<std::string> lines = lines_of(run_driver(c.args));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(c.first_line, lines[0]);
        for (const std::string &l : lines)
            EXPECT_EQ(std::string::npos, l.find("]ERROR!")) << l;   // no signature mismatch
        EXPECT_EQ("Errors detected", lines.back());   // a one-pass run is too short to be valid
    }
}

TEST(Driver, RefusesUnusableArgumentsBeforeAnyWork)
{
    struct { std::vector<std::string> args; const char *want; } const cases[] = {
        {{"0", "0", "0", "1", "3"},
         "veskrane: kernel selection \"3\" reads as 0x3; use 0 or a value with bits 0, 1 and 2 set "
         "(7: list, matrix and state)\n"},
        {{"0", "0", "0", "1", "0x8"},
         "veskrane: kernel selection \"0x8\" reads as 0x8; use 0 or a value with bits 0, 1 and 2 set "
         "(7: list, matrix and state)\n"},
        {{"0", "0", "0", "1", "0", "0", "-5"},
         "veskrane: working-set size \"-5\" reads as -5 bytes; use 0 for the default 2000, or 360 to 32767\n"},
        {{"M2", "0", "0", "0", "1", "0", "0", "359"},
         "veskrane: working-set size \"359\" reads as 359 bytes; use 0 for the default 2000, or 360 to 32767\n"},
        {{"0", "0", "0", "1", "0", "0", "40000"},
         "veskrane: working-set size \"40000\" reads as -25536 bytes; use 0 for the default 2000, or 360 to 32767\n"},
        {{"0", "0", "0", "1", "0", "0", "0x8000"},
         "veskrane: working-set size \"0x8000\" reads as -32768 bytes; use 0 for the default 2000, or 360 to 32767\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.want);
        EXPECT_EQ(c.want, run_driver(c.args));
    }
}

TEST(Driver, NoContextReportsAtOnce)
{
    const std::vector<std::string> lines = lines_of(run_driver({"M0", "0", "0", "0", "5"}));
    const std::vector<std::string> head(lines.begin(), lines.begin() + 5);
    const std::vector<std::string> want = {"2K performance run parameters for veskrane.", "Veskrane Size    : 666",
                                           "Total ticks      : 0", "Total time (secs): 0.000000",
                                           "ERROR! Must execute for at least 10 secs for a valid result!"};
    EXPECT_EQ(want, head);
    EXPECT_EQ("Parallel Fork : 0", lines[8]);
    EXPECT_EQ("Errors detected", lines.back());
}

// ---- random inputs: nothing crashes and the sanitizers stay quiet ----

namespace {

std::string random_text(std::mt19937 &rng, const std::string &alphabet, size_t max_len)
{
    std::string text(std::uniform_int_distribution<size_t>(0, max_len)(rng), ' ');
    for (char &ch : text)
        ch = alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
    return text;
}

} // namespace

TEST(Fuzz, ParsevalSignAndSuffix)
{
    std::mt19937 rng(12345);
    const std::string alphabet = "0123456789abcdefxXKMk-+ \x80\xff";
    for (int n = 0; n < 20000; ++n) {
        const std::string t = random_text(rng, alphabet, 14);
        SCOPED_TRACE(t);
        const uint32_t v = parseval(t.c_str());
        if (t.empty() || t[0] != '-') {
            ASSERT_EQ(0u - v, parseval(("-" + t).c_str()));
        }
    }
}

TEST(Fuzz, DriverOnRandomArguments)
{
    std::mt19937 rng(2024);
    const std::string number = "0123456789abxKM-";
    const std::vector<std::string> endings = {
        "Correct operation validated. See readme.txt for run and reporting rules.", "Errors detected",
        "Cannot validate operation for these seed values, please compare with results on a known platform."};
    for (int n = 0; n < 24; ++n) {
        std::string count = "M";
        count.append(random_text(rng, "0123456789-x", 2));
        std::vector<std::string> args = {count, random_text(rng, number, 4),
                                         random_text(rng, number, 4), random_text(rng, "0123456789", 2), "1",
                                         random_text(rng, "07fx9", 3), random_text(rng, number, 3),
                                         random_text(rng, number, 5)};
        std::string label;
        for (const std::string &a : args)
            label.append("'").append(a).append("' ");
        SCOPED_TRACE(label);
        const std::vector<std::string> lines = lines_of(run_driver(args));
        ASSERT_FALSE(lines.empty());
        const std::string &last = lines.back();
        const bool ends_well = last.rfind("veskrane: ", 0) == 0 || last.rfind("Veskrane 1.0 : ", 0) == 0 ||
                               std::find(endings.begin(), endings.end(), last) != endings.end();
        EXPECT_TRUE(ends_well) << last;
    }
}
