// The box list and folder listing calls on large replies: the whole export
// against the simulated device, the same export against a server that hands
// back the same bytes at once, and a plain libxml2 parse of those bytes.
// The ratio (export on fixed bytes) / (plain parse) shows what reading the
// values costs on top of parsing; it must not grow with the list.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "canned_http.hpp"
#include "devicesim/device.hpp"
#include "devicesim/record_file.hpp"
#include "devicesim/seeding.hpp"
#include "temp_dir.hpp"
#include "transport/box_transport.hpp"
#include "vtBoxBRD.h"

namespace {

namespace fs = std::filesystem;

struct Fixture {
    vttest::TempDir dir;
    std::unique_ptr<devicesim::Device> sim;
    std::unique_ptr<vttest::CannedHttpServer> canned;
    std::string listBytes, collectionBytes;
    VTMFPSESSION simSession{}, cannedSession{};

    Fixture() {
        // 999 boxes (the most three digits allow), and box 1 with 100 folders and 400 documents at its top level.
        fs::path store = dir / "store";
        devicesim::SeedOptions seed;
        seed.boxes = 999;  // box numbers have three digits
        seed.folders = 0;
        seed.docs = 0;
        std::string error;
        if (!devicesim::SeedStore(store, seed, error)) throw std::runtime_error(error);
        fs::path inner = store / "SHR/BOX/DATA/B0000001/P0000001";
        fs::create_directories(inner);
        for (int i = 1; i <= 500; ++i) {
            bool folder = i <= 100;
            char own[16];
            std::snprintf(own, sizeof own, folder ? "F%07d" : "D%07d", folder ? i : i - 100);
            devicesim::EntryRecord r;
            r.ownName = own;
            r.displayName = u"Entry \u00e9 " + std::u16string(own, own + 8);
            r.updateTime = 1700000000;
            auto bytes = devicesim::EncodeEntryRecord(r);
            std::ofstream(inner / (std::string(own) + ".XML"), std::ios::binary)
                .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            fs::create_directories(inner / own);
        }
        devicesim::DeviceOptions o;
        o.store = store;
        sim = std::make_unique<devicesim::Device>(o);
        sim->Start();
        simSession = Session(sim->HttpPort());
        if (vtBoxOpenConnection(&simSession) != 0) throw std::runtime_error("open failed");
        listBytes = Fetch("/VaultraBox/Admin/boxnwGetBoxList?SID=" + Sid());
        collectionBytes = Fetch("/VaultraBox/Admin/boxnwGetFolderDocList?SID=" + Sid() + "&BNO=001&PWD=admin&FID=");
        canned = std::make_unique<vttest::CannedHttpServer>([this](const std::string &target) {
            if (target.find("boxnwConnect") != std::string::npos)
                return vttest::CannedReply{200,
                                           "<BoxNwLib><Header><Version>Korvo-B V1.3.0.0</Version></Header><Message>"
                                           "<Result>0</Result><SessionInfo><WebSessionID>7</WebSessionID></SessionInfo>"
                                           "</Message></BoxNwLib>"};
            if (target.find("boxnwGetBoxList") != std::string::npos) return vttest::CannedReply{200, listBytes};
            if (target.find("boxnwGetFolderDocList") != std::string::npos)
                return vttest::CannedReply{200, collectionBytes};
            return vttest::CannedReply{200, "<BoxNwLib><Message><Result>0</Result></Message></BoxNwLib>"};
        });
        cannedSession = Session(canned->port());
        vtBoxOpenConnection(&cannedSession);
    }

    static VTMFPSESSION Session(uint16_t port) {
        VTMFPSESSION s{};
        std::strcpy(s.Host, "127.0.0.1");
        s.Port = port;
        return s;
    }
    std::string Sid() const {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08u", simSession.SessionId);
        return buf;
    }
    std::string Fetch(const std::string &path) {
        HGLOBAL h = vtbox::SendBoxRequest(&simSession, path);
        if (!h) throw std::runtime_error("fetch failed");
        std::string bytes(static_cast<const char *>(h), GlobalSize(h));
        GlobalFree(h);
        return bytes;
    }
};

Fixture &F() {
    static Fixture f;
    return f;
}

void Collection(benchmark::State &state, VTMFPSESSION *s) {
    for (auto _ : state) {
        uint32_t n = 0;
        VTBOXELEMENT *e = nullptr;
        HGLOBAL h = vtBoxGetCollection(s, 1, "admin", 0, &n, &e);
        if (!h || n != 500) state.SkipWithError("collection failed");
        GlobalFree(h);
    }
}
void BoxList(benchmark::State &state, VTMFPSESSION *s) {
    for (auto _ : state) {
        uint32_t n = 0;
        VTBOX *b = nullptr;
        HGLOBAL h = vtBoxGetBoxList(s, &n, &b);
        if (!h || n != 999) state.SkipWithError("box list failed");
        GlobalFree(h);
    }
}
void Parse(benchmark::State &state, const std::string &bytes) {
    for (auto _ : state) {
        xmlDocPtr d = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "r.xml", nullptr, XML_PARSE_NONET);
        benchmark::DoNotOptimize(d);
        xmlFreeDoc(d);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_Collection_Simulator(benchmark::State &s) { Collection(s, &F().simSession); }
void BM_Collection_FixedBytes(benchmark::State &s) { Collection(s, &F().cannedSession); }
void BM_Collection_PlainParse(benchmark::State &s) { Parse(s, F().collectionBytes); }
void BM_BoxList_Simulator(benchmark::State &s) { BoxList(s, &F().simSession); }
void BM_BoxList_FixedBytes(benchmark::State &s) { BoxList(s, &F().cannedSession); }
void BM_BoxList_PlainParse(benchmark::State &s) { Parse(s, F().listBytes); }

BENCHMARK(BM_Collection_Simulator)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Collection_FixedBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Collection_PlainParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxList_Simulator)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxList_FixedBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxList_PlainParse)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
