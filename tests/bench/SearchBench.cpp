// The search: each reply parser's throughput, and one round of the engine with 10 000 devices
// answering, against the design's linear walk over the rows.
#include "discovery/DeviceSearch.h"
#include "dvsnet/WsDiscovery.h"
#include "transport/DeviceControlLibrary.h"

#include "SimSearch.h"
#include "SimWsd.h"

#include <benchmark/benchmark.h>

namespace {

sim::TSearchIdentity Identity(sim::TSeries series) {
    sim::TSearchIdentity c;
    c.Series = series;
    c.Address = "192.168.1.64";
    c.HttpPort = 81;
    c.SysVersion = "48.2.0.10";
    c.AppVersion = "2.4.8.6";
    c.Name = "Camera";
    const unsigned char mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    std::copy(mac, mac + 6, c.Mac);
    return c;
}

struct TNoNetwork : ISearchNetwork {
    struct TPort : IDatagramPort {
        bool SendTo(const std::string&, const std::string&, int) override { return true; }
    } Port;
    IDatagramPort& Listener(int) override { return Port; }
    void SearchLibrary() override {}
    void StartExternal() override {}
};

template <class F> void Parse(benchmark::State& state, const std::string& datagram, F parse) {
    for (auto _ : state) {
        TDevInfo r;
        benchmark::DoNotOptimize(parse(datagram, r));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_MoiReply(benchmark::State& s) {
    Parse(s, sim::SearchAnswers(Identity(sim::TSeries::F), MoiProbe())[0],
          [](const std::string& d, TDevInfo& r) { return ParseMoiReply(d, r); });
}
void BM_TextReply(benchmark::State& s) {
    Parse(s, sim::SearchAnswers(Identity(sim::TSeries::E), CtpSearchProbe())[0],
          [](const std::string& d, TDevInfo& r) { return ParseTextReply(d, r); });
}
void BM_BinaryInfo(benchmark::State& s) {
    auto c = Identity(sim::TSeries::H);
    std::string offer = sim::SearchAnswers(c, BinaryProbe())[0], request;
    BinaryOfferFollowUp(offer, request);
    Parse(s, sim::SearchAnswers(c, request)[0], [](const std::string& d, TDevInfo& r) {
        std::string next;
        return BinaryInfoRecord(d, r, next);
    });
}
void BM_BinaryOffer(benchmark::State& s) {
    Parse(s, sim::SearchAnswers(Identity(sim::TSeries::H), BinaryProbe())[0],
          [](const std::string& d, TDevInfo&) {
              std::string next;
              return BinaryOfferFollowUp(d, next);
          });
}
void BM_ZoltReply(benchmark::State& s) {
    Parse(s, sim::SearchAnswers(Identity(sim::TSeries::T), ZoltSearchRequest())[0],
          [](const std::string& d, TDevInfo& r) { return ParseZoltReply(d, r); });
}
void BM_ProbeMatch(benchmark::State& s) {
    Parse(s, sim::ProbeMatches("uuid:1", "5e1b7a4c-1111", "Front Door", "192.168.1.64", 80),
          [](const std::string& d, TDevInfo&) { return wsd::ParseProbeMatches(d).size(); });
}

std::vector<TDevInfo> Fleet(size_t n) {
    std::vector<TDevInfo> out;
    for (size_t i = 0; i < n; ++i) {
        TDevInfo d;
        d.DevType = 8;
        char mac[13];
        std::snprintf(mac, sizeof mac, "02%010zx", i * 7919);
        d.MAC = mac;
        d.IP = "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
               std::to_string(i % 256);
        d.HttpPort = static_cast<uint16_t>(80 + i % 3);
        d.DevName = "cam" + std::to_string(i);
        out.push_back(d);
    }
    return out;
}

// An engine with the fleet listed and sorted, before any timing starts.
struct TListed {
    explicit TListed(size_t n) : Engine(Net), Devices(Fleet(n)) {
        for (const auto& d : Devices)
            Engine.OnFound(d);
    }
    TNoNetwork Net;
    TDeviceSearch Engine;
    std::vector<TDevInfo> Devices;
};

// One round's work: every device answers once (its row refreshed), then the tick.
void BM_RoundIndexed(benchmark::State& state) {
    TListed listed(static_cast<size_t>(state.range(0)));
    TDeviceSearch& engine = listed.Engine;
    const auto& fleet = listed.Devices;
    for (auto _ : state) {
        for (const auto& d : fleet)
            engine.OnFound(d);
        engine.Tick();
    }
    state.counters["rows"] = static_cast<double>(engine.Count());
}

// The same round with the design's linear walk to find each row by its MAC.
void BM_RoundLinearWalk(benchmark::State& state) {
    TListed listed(static_cast<size_t>(state.range(0)));
    TDeviceSearch& engine = listed.Engine;
    const auto& fleet = listed.Devices;
    for (auto _ : state) {
        for (const auto& d : fleet) {
            const TDevInfo* found = nullptr;
            for (size_t i = 0; i < engine.Count() && !found; ++i)
                if (engine.Row(i).MAC == d.MAC) found = &engine.Row(i);
            benchmark::DoNotOptimize(found);
            engine.OnFound(d);
        }
        engine.Tick();
    }
}

} // namespace

BENCHMARK(BM_MoiReply);
BENCHMARK(BM_TextReply);
BENCHMARK(BM_BinaryOffer);
BENCHMARK(BM_BinaryInfo);
BENCHMARK(BM_ZoltReply);
BENCHMARK(BM_ProbeMatch);
BENCHMARK(BM_RoundIndexed)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundLinearWalk)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
