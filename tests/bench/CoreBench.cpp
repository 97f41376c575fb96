// Throughput of the hot loops that every upgrade runs: the digest of a package and the Base64 of
// an account, and the INI lookups of a firmware list.
#include "lang/IniFile.h"
#include "transport/Base64.h"
#include "upgrade/PackageFiles.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

static void BM_FileMD5(benchmark::State& state) {
    std::string path = "/tmp/ipcam-core-bench-md5.bin";
    {
        std::ofstream f(path, std::ios::binary);
        std::string block(1 << 20, 'm');
        for (int i = 0; i < state.range(0); ++i)
            f << block;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(TUpgradeOpt::FileMD5(path));
    state.SetBytesProcessed(state.iterations() * state.range(0) * (1 << 20));
    std::remove(path.c_str());
}
BENCHMARK(BM_FileMD5)->Arg(64)->Unit(benchmark::kMillisecond);

static void BM_Base64(benchmark::State& state) {
    std::string data(static_cast<size_t>(state.range(0)), 'x');
    for (auto _ : state)
        benchmark::DoNotOptimize(Base64Encode(data));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Base64)->Arg(64)->Arg(1 << 20);

static void BM_IniLookup(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += "[model" + std::to_string(i) + "]\r\nSysVer=1.2.3." + std::to_string(i) + "\r\nMD5=abc\r\n";
    TIniFile ini("/nonexistent", text);
    for (auto _ : state)
        benchmark::DoNotOptimize(ini.ReadString("MODEL499", "sysver", ""));
}
BENCHMARK(BM_IniLookup);

BENCHMARK_MAIN();
