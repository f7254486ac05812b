// Frame codec cost of the full-image report: Serialize and DeSerialize.
#include "BenchSupport.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"

#include <benchmark/benchmark.h>

namespace {

void BM_Serialize(benchmark::State& state) {
    const std::unique_ptr<LxTarvexDetectedMacMsg> message = zam::bench::SampleMessage();
    for (auto _ : state) {
        const std::unique_ptr<LxIpcMsgBuffer> frame(message->Serialize());
        benchmark::DoNotOptimize(frame->GetBuf());
    }
}

void BM_DeSerialize(benchmark::State& state) {
    const std::vector<unsigned char> frame = zam::bench::SampleFrame();
    for (auto _ : state) {
        const std::unique_ptr<LxTarvexDetectedMacMsg> message(
            LxTarvexDetectedMacMsg::DeSerialize(frame.data(), static_cast<int>(frame.size())));
        benchmark::DoNotOptimize(message.get());
    }
}

// Ten short repetitions each; scripts/bench takes their median.
void Configure(benchmark::internal::Benchmark* bench) {
    bench->MinTime(0.05)->Repetitions(10)->ReportAggregatesOnly(true);
}

BENCHMARK(BM_Serialize)->Apply(Configure);
BENCHMARK(BM_DeSerialize)->Apply(Configure);

} // namespace

BENCHMARK_MAIN();
