// Speed of the imaging core's hot paths: whole-image copies against a plain
// memcpy of the same bytes, row access with and without a view, and
// unpremultiplying a large image.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include <sys/mman.h>

#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"

// Every heap allocation of the program is counted, so row access can show
// that it allocates nothing without a view and once with one.
namespace {
std::atomic<uint64_t> g_heapAllocations{0};

// Out of line, so the compiler never pairs an inlined new with free.
[[gnu::noinline]] void* CountedAllocate(std::size_t size) noexcept {
  g_heapAllocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
[[gnu::noinline]] void CountedFree(void* p) noexcept { std::free(p); }
}  // namespace

void* operator new(std::size_t size) {
  if (void* p = CountedAllocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = CountedAllocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocate(size); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedFree(p); }

namespace {

constexpr int kSide = 4096;
constexpr size_t kImageBytes = static_cast<size_t>(kSide) * kSide * 4;

void Check(CoreResult result) {
  if (ExamineResult(result) != 0) {
    std::fprintf(stderr, "imaging core call failed\n");
    std::abort();
  }
}

// A 4096 x 4096 BGRA image with varied colour and alpha.
CCoreImage& SourceImage() {
  static CCoreImage* image = [] {
    auto* made = new CCoreImage;
    Check(made->CreateBGRA(kSide, kSide));
    for (int y = 0; y < kSide; ++y) {
      const CRowLease lease(*made, y);
      uint8_t* row = lease.Data();
      for (int x = 0; x < kSide * 4; ++x) row[x] = static_cast<uint8_t>((x * 7 + y * 13) ^ (x >> 5));
    }
    return made;
  }();
  return *image;
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<uint8_t> from(kImageBytes, 1);
  std::vector<uint8_t> to(kImageBytes, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kImageBytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same bytes into pages never touched before, as a copy into new
// storage must write them: the price of first touching fresh pages.
void BM_MemcpyIntoFreshMapping(benchmark::State& state) {
  std::vector<uint8_t> from(kImageBytes, 1);
  for (auto _ : state) {
    void* to = mmap(nullptr, kImageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (to == MAP_FAILED) std::abort();
    std::memcpy(to, from.data(), kImageBytes);
    benchmark::ClobberMemory();
    munmap(to, kImageBytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK(BM_MemcpyIntoFreshMapping)->Unit(benchmark::kMillisecond)->UseRealTime();

// Repeated deep copies into the same target: after the first, the target's
// own storage is overwritten in place.
void BM_CopyFrom(benchmark::State& state) {
  CCoreImage& source = SourceImage();
  CCoreImage copy;
  Check(copy.CopyFrom(source));  // the target's first storage is not timed
  for (auto _ : state) {
    Check(copy.CopyFrom(source));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK(BM_CopyFrom)->Unit(benchmark::kMillisecond)->UseRealTime();

// Deep copies into an empty target: new storage every time.
void BM_CopyFromIntoEmpty(benchmark::State& state) {
  CCoreImage& source = SourceImage();
  CCoreImage copy;
  for (auto _ : state) {
    state.PauseTiming();
    copy.Reset();
    state.ResumeTiming();
    Check(copy.CopyFrom(source));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK(BM_CopyFromIntoEmpty)->Unit(benchmark::kMillisecond)->UseRealTime();

void RowPass(CCoreImage& image) {
  uint64_t sum = 0;
  for (int y = 0; y < image.Height(); ++y) {
    const CRowLease row(image, y);
    sum += row.Data()[y & 63];
  }
  benchmark::DoNotOptimize(sum);
}

void ReportAllocations(benchmark::State& state, uint64_t rowBuffers, uint64_t heap) {
  const double passes = static_cast<double>(state.iterations());
  state.counters["row_buffer_allocs_per_pass"] = static_cast<double>(rowBuffers) / passes;
  state.counters["heap_allocs_per_pass"] = static_cast<double>(heap) / passes;
  state.counters["rows_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kSide, benchmark::Counter::kIsRate);
}

void BM_GetRowNoView(benchmark::State& state) {
  CCoreImage image;
  image.AssignFrom(SourceImage());
  uint64_t rowBuffers = 0, heap = 0;
  for (auto _ : state) {
    const uint64_t rowsBefore = CCoreImage::RowBufferAllocations();
    const uint64_t heapBefore = g_heapAllocations.load();
    RowPass(image);
    rowBuffers += CCoreImage::RowBufferAllocations() - rowsBefore;
    heap += g_heapAllocations.load() - heapBefore;
  }
  ReportAllocations(state, rowBuffers, heap);
}
BENCHMARK(BM_GetRowNoView)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Every pass runs on a freshly installed view, so the first fetch of the
// pass has no spare buffer to reuse: the count shows the worst case. A deep
// copy, because a read-write grey view writes grey back into the colour.
void ViewPass(benchmark::State& state, bool channelView, int accessMode) {
  CCoreImage image;
  Check(image.CopyFrom(SourceImage()));
  uint64_t rowBuffers = 0, heap = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Check(image.SetChannelView(keChannelNone, keAccessReadWrite));
    if (channelView) {
      Check(image.SetChannelView(3, accessMode));
    } else {
      Check(image.SetViewFormat(keFormatGreyA, accessMode));
    }
    state.ResumeTiming();
    const uint64_t rowsBefore = CCoreImage::RowBufferAllocations();
    const uint64_t heapBefore = g_heapAllocations.load();
    RowPass(image);
    rowBuffers += CCoreImage::RowBufferAllocations() - rowsBefore;
    heap += g_heapAllocations.load() - heapBefore;
  }
  ReportAllocations(state, rowBuffers, heap);
}

void BM_GetRowAlphaChannelView(benchmark::State& state) { ViewPass(state, true, keAccessRead); }
BENCHMARK(BM_GetRowAlphaChannelView)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GetRowGreyAFormatViewReadWrite(benchmark::State& state) {
  ViewPass(state, false, keAccessReadWrite);
}
BENCHMARK(BM_GetRowGreyAFormatViewReadWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Unpremultiply(benchmark::State& state) {
  CCoreImage image;
  Check(image.CopyFrom(SourceImage()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(image.Unpremultiply());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK(BM_Unpremultiply)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps the byte rates of the runs so the copy can be set against memcpy.
class CRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const auto it = run.counters.find("bytes_per_second");
      if (it == run.counters.end()) continue;
      // With repetitions the median speaks for the benchmark.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        m_medians[run.run_name.function_name] = it->second.value;
      } else if (run.run_type == Run::RT_Iteration) {
        m_rates[run.run_name.function_name] = it->second.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double Rate(const std::string& name) const {
    if (const auto it = m_medians.find(name); it != m_medians.end()) return it->second;
    const auto it = m_rates.find(name);
    return it == m_rates.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::string, double> m_rates;
  std::map<std::string, double> m_medians;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // Built before any timing starts.
  SourceImage();
  CRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto ratio = [&reporter](const char* copy, const char* plain) {
    const double copyRate = reporter.Rate(copy);
    const double plainRate = reporter.Rate(plain);
    if (copyRate > 0 && plainRate > 0) {
      std::printf("%s / %s throughput ratio: %.3f (%.3f GB/s vs %.3f GB/s)\n", copy, plain,
                  copyRate / plainRate, copyRate / 1e9, plainRate / 1e9);
    }
  };
  ratio("BM_CopyFrom", "BM_Memcpy");
  ratio("BM_CopyFromIntoEmpty", "BM_Memcpy");
  ratio("BM_CopyFromIntoEmpty", "BM_MemcpyIntoFreshMapping");
  benchmark::Shutdown();
  return 0;
}
