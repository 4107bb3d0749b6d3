// The five element maps loaded as the provider loads them, the first holding
// a root and N entries (lines of about 100 bytes, as in the maps we ship):
// either scalars only, or with a table (its row and two columns) in every ten
// entries. The time must grow with N, not with N squared: the complexity
// line of each says which.
#include <benchmark/benchmark.h>

#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "map_reader.hpp"
#include "temp_dir.hpp"

namespace {

std::string Line(const std::string &name, int number, const std::string &oid, const char *syntax, const char *access,
                 const char *kind, const char *index = "") {
    return name + "\t" + std::to_string(number) + "\t" + oid + "\t\tAn element of the benchmark, described\t0\t0\t" +
           syntax + "\t" + access + "\t\t" + kind + (*index ? std::string("\t") + index : "") + "\n";
}

// A folder with the five maps: HRMap.txt holds `entries` entries, the others none.
std::unique_ptr<vttest::TempDir> Maps(int entries, bool tables) {
    auto dir = std::make_unique<vttest::TempDir>();
    std::ofstream map(*dir / kx9::kMapFileNames[0]);
    map << Line("bench", 1, "1.3.6.1.4.1.99999", "", "not-accessible", "root-OID");
    for (int i = 0; i < entries; ++i) {
        const std::string base = "1.3.6.1.4.1.99999." + std::to_string(i / 10 + 1);
        const int n = i + 2;
        switch (tables ? i % 10 : 9) {
        case 0: map << Line("table" + std::to_string(n), n, base, "", "not-accessible", "table"); break;
        case 1: map << Line("entry" + std::to_string(n), n, base + ".1", "", "not-accessible", "row"); break;
        case 2:
        case 3:
            map << Line("column" + std::to_string(n), n, base + ".1." + std::to_string(i % 10), "integer", "read-only",
                        "dynamic", "3");
            break;
        default:
            map << Line("scalar" + std::to_string(n), n, base + "." + std::to_string(i % 10), "string", "read-write",
                        "static");
        }
    }
    for (int i = 1; i < 5; ++i) std::ofstream(*dir / kx9::kMapFileNames[i]);
    return dir;
}

void LoadMaps(benchmark::State &state, bool tables) {
    const int entries = static_cast<int>(state.range(0));
    auto dir = Maps(entries, tables);
    for (auto _ : state) {
        kx9::Schema schema;
        std::string error;
        if (!kx9::LoadMaps(dir->path(), &schema, &error)) throw std::runtime_error(error);
        if (schema.size() != static_cast<size_t>(entries) + 1) throw std::runtime_error("entries lost");
        benchmark::DoNotOptimize(schema);
    }
    state.SetComplexityN(entries);
    state.counters["entries/s"] = benchmark::Counter(entries, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_LoadMaps_Scalars(benchmark::State &state) { LoadMaps(state, false); }
void BM_LoadMaps_Tables(benchmark::State &state) { LoadMaps(state, true); }

BENCHMARK(BM_LoadMaps_Scalars)->RangeMultiplier(2)->Range(10000, 80000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_LoadMaps_Tables)->RangeMultiplier(2)->Range(10000, 80000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
