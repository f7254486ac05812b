// Frame codec cost of a full-image report: Serialize, DeSerialize and the image text
// conversion in both directions.
#include "BenchSupport.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

using namespace zam::bench;

namespace {

void BM_Serialize(benchmark::State& state) {
    const std::unique_ptr<LxTarvexDetectedMacMsg> message(NewSampleMessage());
    for (auto _ : state) {
        LxIpcMsgBuffer* frame = message->Serialize();
        benchmark::DoNotOptimize(frame->GetBuf());
        delete frame;
    }
}

void BM_DeSerialize(benchmark::State& state) {
    const std::vector<unsigned char> frame = SampleFrame();
    const int length = static_cast<int>(frame.size());
    for (auto _ : state) {
        LxTarvexDetectedMacMsg* message = LxTarvexDetectedMacMsg::DeSerialize(frame.data(), length);
        benchmark::DoNotOptimize(message);
        delete message;
    }
}

// The standard library's text form, a new std::string each time.
void BM_ImageToText_ToString(benchmark::State& state) {
    const std::bitset<128> image = SampleImage();
    for (auto _ : state) {
        std::string text = image.to_string();
        benchmark::DoNotOptimize(text.data());
    }
}

// The same text written bit by bit into a fixed array, as Serialize does.
void BM_ImageToText_Array(benchmark::State& state) {
    const std::bitset<128> image = SampleImage();
    char text[129];
    for (auto _ : state) {
        benchmark::DoNotOptimize(image);
        for (std::size_t k = 0; k < 128; ++k) {
            text[k] = image.test(127 - k) ? '1' : '0';
        }
        text[128] = '\0';
        benchmark::DoNotOptimize(text);
    }
}

// Text back to the image, as DeSerialize does it.
void BM_TextToImage(benchmark::State& state) {
    const std::string text = SampleImage().to_string();
    for (auto _ : state) {
        benchmark::DoNotOptimize(text.data());
        std::bitset<128> image(text.c_str(), 128);
        benchmark::DoNotOptimize(image);
    }
}

double MinOf(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}
double MaxOf(const std::vector<double>& v) {
    return *std::max_element(v.begin(), v.end());
}

// Ten short repetitions each: the median and min-max of the repetitions are reported.
void Configure(benchmark::internal::Benchmark* bench) {
    bench->Unit(benchmark::kNanosecond)
        ->MinTime(0.05)
        ->Repetitions(10)
        ->ReportAggregatesOnly(true)
        ->ComputeStatistics("min", MinOf)
        ->ComputeStatistics("max", MaxOf);
}

BENCHMARK(BM_Serialize)->Apply(Configure);
BENCHMARK(BM_DeSerialize)->Apply(Configure);
BENCHMARK(BM_ImageToText_ToString)->Apply(Configure);
BENCHMARK(BM_ImageToText_Array)->Apply(Configure);
BENCHMARK(BM_TextToImage)->Apply(Configure);

// The console output, plus one summary row per benchmark (median, min-max).
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_unit == benchmark::kTime) {
                m_values[run.run_name.str()][run.aggregate_name] = run.GetAdjustedRealTime();
                m_order.push_back(run.run_name.str());
            }
        }
    }

    void WriteSummary() const {
        std::vector<std::string> done;
        for (const std::string& name : m_order) {
            if (std::find(done.begin(), done.end(), name) != done.end()) {
                continue;
            }
            done.push_back(name);
            const auto& v = m_values.at(name);
            if (v.count("median") == 0 || v.count("min") == 0 || v.count("max") == 0) {
                continue;
            }
            SummaryRow(name.substr(3, name.find('/') - 3) + " (ns)", Format("%.0f", v.at("median")),
                       Format("%.0f–%.0f (10 reps)", v.at("min"), v.at("max")), "");
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> m_values;
    std::vector<std::string> m_order;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.WriteSummary();
    benchmark::Shutdown();
    return 0;
}
