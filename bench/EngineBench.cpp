// Speed and memory of whole filter runs on large pictures of our own making,
// with the editor's state set up as opening the editor and drawing the
// strokes leaves it: default parameters and every option on, the time spent
// between the run's progress reports, and the peak resident memory. The
// stages of the last, unreported stretch of a run are also timed one by one.
//
// Stage times come from the run's own progress reports: each report marks a
// stage boundary. Reports are normally throttled to one per 0.2 s; here the
// progress clock advances on every reading, so every report gets through.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "PrivateStore.h"
#include "SyntheticScene.h"
#include "engine/BoxBlur.h"
#include "engine/Feather.h"
#include "engine/KeepMarkedObjects.h"
#include "engine/MatteDocument.h"
#include "engine/MatteFilter.h"
#include "engine/Morphology3x3.h"
#include "engine/Plane.h"
#include "engine/RefineEdge.h"
#include "engine/RemoveMarkedBackground.h"
#include "framework/Param.h"
#include "imagecore/ProgressScale.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

struct CRunConfig {
  const char* name;
  int strength;
  int smoothing;
  int feather;
  int contract;
  bool fillHoles;
  bool textured;
  double targetSeconds;  // at 4096 x 4096; 0 = none
  double targetCopies;   // most wall time in memcpy's of the layer, at 4096 x 4096
  // What runs between consecutive reports, as Process is laid out: before
  // step 1, then between step k and k + 1, the last up to the return.
  std::vector<const char*> stages;
  bool colourModel = false;
};

const CRunConfig kDefault{
    "default", 30, 0, 1, 0, false, false, 1.5, 80,
    {"copies of the document, matte", "texture map", "classify regions",
     "clean-up (marked background, marked objects)", "combine with previous",
     "clean-up again, feather 1, compose, result copies"}};

// The defaults with Colour Model on: one more step after the classification.
const CRunConfig kColourModel{
    "colour-model", 30, 0, 1, 0, false, false, 0, 80,
    {"copies of the document, matte", "texture map", "classify regions", "colour model",
     "clean-up (marked background, marked objects)", "combine with previous",
     "clean-up again, feather 1, compose, result copies"},
    true};

const CRunConfig kEverythingOn{
    "everything-on", 60, 9, 10, 10, true, true, 6.0, 200,
    {"copies of the document, matte", "texture map, colour copies", "7 x 7 colour blur",
     "classify regions", "clean-up (marked background, marked objects)",
     "fill holes (matte and previous matte, side by side)", "(both filled)", "combine with previous",
     "clean-up again", "smoothing blur 27, threshold",
     "contract 10, feather 10, compose, result copies"}};

double WallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct CCpuReading {
  double cpu = 0;  // user and system
  double sys = 0;
  long faults = 0;  // minor page faults: mostly first touches of fresh pages
};

CCpuReading CpuNow() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  CCpuReading r;
  r.sys = seconds(usage.ru_stime);
  r.cpu = seconds(usage.ru_utime) + r.sys;
  r.faults = usage.ru_minflt;
  return r;
}

// Advances on every reading, so the progress scale never holds a report back.
double CountingClock() {
  static double ticks = 0.0;
  return ticks += 1.0;
}

// ---- Memory ------------------------------------------------------------------

long StatusKiB(const char* field) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long value = -1;
  const size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
      value = std::atol(line + length + 1);
      break;
    }
  }
  std::fclose(f);
  return value;
}

// Lowers the peak-RSS mark to the current RSS, so that the peak read after a
// run belongs to that run alone.
bool ResetPeakRss() {
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return false;
  const bool written = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && written;
}

// ---- One run, timed stage by stage ---------------------------------------

struct CRunRecord {
  double wall = 0;
  double cpu = 0;
  double sys = 0;
  std::vector<double> stageWall;
  std::vector<double> stageCpu;
  std::vector<double> stageSys;
  std::vector<double> stageFaults;
  double rssBeforeMiB = 0;
  double peakMiB = 0;
  bool peakIsRunOnly = false;
};

struct CStageClock {
  std::vector<double> wall;
  std::vector<CCpuReading> cpu;
  void Mark() {
    wall.push_back(WallNow());
    cpu.push_back(CpuNow());
  }
  static int OnReport(CProgressScale& scale) {
    static_cast<CStageClock*>(scale.Owner())->Mark();
    return 0;
  }
};

// The layer, the filter and the document as the editor holds them after
// opening on the layer and drawing the strokes.
class CEditorState {
 public:
  explicit CEditorState(int side) : m_side(side) { MakeSyntheticScene(m_displayed, side); }

  void Open(const CRunConfig& config) {
    ThrowIfFailed(m_layerCopy.CopyFrom(m_displayed));
    m_filter.m_source.AssignFrom(m_layerCopy);
    m_filter.m_view = &m_doc;
    m_doc.Open(m_layerCopy, &m_displayed);
    CParamSet& params = m_filter.m_paramSet;
    params.FindParam(keSlotStrength)->SetInt(config.strength);
    params.FindParam(keSlotSmoothing)->SetInt(config.smoothing);
    params.FindParam(keSlotFeather)->SetInt(config.feather);
    params.FindParam(keSlotContract)->SetInt(config.contract);
    params.FindParam(keSlotFillHoles)->SetInt(config.fillHoles ? 1 : 0);
    params.FindParam(keSlotTextured)->SetInt(config.textured ? 1 : 0);
    params.FindParam(keSlotColourModel)->SetInt(config.colourModel ? 1 : 0);
    // Textured Background is ticked before the strokes; the last stroke
    // then sets the combination mode, as in the editor.
    m_doc.OnTexturedClicked(config.textured);
    DrawSyntheticStrokes(m_doc, m_side);
    ThrowIfFailed(m_filter.m_result.CopyFrom(m_filter.m_source));  // as starting a run does
  }

  // One Process call with every report let through.
  CRunRecord Run() {
    CStageClock clock;
    CProgressScale progress;
    progress.InitRoot();
    progress.SetReportCallback(&CStageClock::OnReport);
    progress.SetOwner(&clock);
    ProcessArgs args;
    args.source = &m_filter.m_source;
    args.result = &m_filter.m_result;
    args.progress = &progress;

    CRunRecord record;
    record.rssBeforeMiB = StatusKiB("VmRSS") / 1024.0;
    record.peakIsRunOnly = ResetPeakRss();
    clock.Mark();
    const int answer = m_filter.Process(args);
    clock.Mark();
    record.peakMiB = StatusKiB("VmHWM") / 1024.0;
    if (answer != 0) {
      std::fprintf(stderr, "Process answered %d\n", answer);
      std::exit(1);
    }
    record.wall = clock.wall.back() - clock.wall.front();
    record.cpu = clock.cpu.back().cpu - clock.cpu.front().cpu;
    record.sys = clock.cpu.back().sys - clock.cpu.front().sys;
    for (size_t i = 1; i < clock.wall.size(); ++i) {
      record.stageWall.push_back(clock.wall[i] - clock.wall[i - 1]);
      record.stageCpu.push_back(clock.cpu[i].cpu - clock.cpu[i - 1].cpu);
      record.stageSys.push_back(clock.cpu[i].sys - clock.cpu[i - 1].sys);
      record.stageFaults.push_back(static_cast<double>(clock.cpu[i].faults - clock.cpu[i - 1].faults));
    }
    return record;
  }

  CMatteDocument& Doc() { return m_doc; }
  double LayerMiB() const { return static_cast<double>(m_side) * m_side * 4 / kMiB; }

 private:
  int m_side;
  CCoreImage m_displayed;  // the holder's image the view shows
  CCoreImage m_layerCopy;  // the editor's own copy of the layer
  CMatteFilter m_filter;
  CMatteDocument m_doc;
};

// One picture's state at a time: the last one is dropped before the next
// size is made.
std::unique_ptr<CEditorState> g_state;
int g_stateSide = 0;
void DropTailInputs();

CEditorState& StateFor(int side) {
  if (g_stateSide != side) {
    DropTailInputs();
    g_state.reset();
    g_state = std::make_unique<CEditorState>(side);
    g_stateSide = side;
  }
  return *g_state;
}

struct CRunSeries {
  const CRunConfig* config;
  int side;
  double layerMiB;
  std::vector<CRunRecord> runs;
};
std::map<std::string, CRunSeries> g_series;

void BM_Process(benchmark::State& state, const CRunConfig* config, int side) {
  CEditorState& editor = StateFor(side);
  const std::string key = std::string(config->name) + "/" + std::to_string(side);
  CRunSeries& series = g_series[key];
  series.config = config;
  series.side = side;
  series.layerMiB = editor.LayerMiB();
  for (auto _ : state) {
    state.PauseTiming();
    editor.Open(*config);
    state.ResumeTiming();
    const CRunRecord record = editor.Run();
    state.PauseTiming();
    series.runs.push_back(record);
    state.ResumeTiming();
  }
  state.counters["peak_MiB"] = series.runs.back().peakMiB;
}

// ---- The last stretch's stages, one by one -------------------------------

// The state a real run leaves: m_work holds the finished matte without
// feathering, m_prevMatte the matte before smoothing and contraction.
struct CTailInputs {
  CCoreImage work;
  CCoreImage matte;
  CCoreImage marks;
};

std::map<const CRunConfig*, std::unique_ptr<CTailInputs>> g_tailInputs;

CTailInputs& TailInputs(const CRunConfig& config) {
  std::unique_ptr<CTailInputs>& inputs = g_tailInputs[&config];
  if (!inputs) {
    CEditorState& editor = StateFor(4096);
    editor.Open(config);
    editor.Run();
    inputs = std::make_unique<CTailInputs>();
    ThrowIfFailed(inputs->work.CopyFrom(editor.Doc().Work()));
    const CPlane& matte = *editor.Doc().PrevMatte();
    ThrowIfFailed(inputs->matte.CreateGrey(matte.Width(), matte.Height()));
    WritePlane(matte, inputs->matte);
    ThrowIfFailed(inputs->marks.CopyFrom(*editor.Doc().Marks()));
  }
  return *inputs;
}

void DropTailInputs() { g_tailInputs.clear(); }

void BM_Feather(benchmark::State& state, const CRunConfig* config) {
  CTailInputs& inputs = TailInputs(*config);
  CCoreImage work;
  for (auto _ : state) {
    state.PauseTiming();
    ThrowIfFailed(work.CopyFrom(inputs.work));
    state.ResumeTiming();
    Feather(work, config->feather);
  }
}

// Refine Edge at the width of the feathering it takes the place of, on the
// finished matte; the refined pixels are only counted. extra_MiB is how far
// the process's peak rose above what it held before the run: pages kept
// for recycling from earlier runs count as held, so after the first run it
// shows only what the run could not take from them.
void BM_RefineEdge(benchmark::State& state, const CRunConfig* config) {
  CTailInputs& inputs = TailInputs(*config);
  double extraMiB = 0;
  int64_t refined = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const double before = StatusKiB("VmRSS") / 1024.0;
    const bool peakOfRun = ResetPeakRss();
    state.ResumeTiming();
    ThrowIfFailed(RefineEdge(
        inputs.work, config->feather,
        [&refined](int, int left, int right, const uint8_t*) { refined += right - left; },
        nullptr));
    state.PauseTiming();
    if (peakOfRun) extraMiB = std::max(extraMiB, StatusKiB("VmHWM") / 1024.0 - before);
    state.ResumeTiming();
  }
  state.counters["extra_MiB"] = extraMiB;
  state.counters["band_pixels"] = static_cast<double>(refined) / state.iterations();
}

void BM_CleanUp(benchmark::State& state, const CRunConfig* config) {
  CTailInputs& inputs = TailInputs(*config);
  CCoreImage matte;
  for (auto _ : state) {
    state.PauseTiming();
    ThrowIfFailed(matte.CopyFrom(inputs.matte));
    state.ResumeTiming();
    RemoveMarkedBackground(matte, inputs.marks, 100);
    ThrowIfFailed(KeepMarkedObjects(matte, inputs.marks, 1, nullptr));
  }
}

void BM_SmoothingBlur(benchmark::State& state, const CRunConfig* config) {
  CTailInputs& inputs = TailInputs(*config);
  CCoreImage matte;
  for (auto _ : state) {
    state.PauseTiming();
    ThrowIfFailed(matte.CopyFrom(inputs.matte));
    state.ResumeTiming();
    int window = SmoothingWindow(config->smoothing);
    ThrowIfFailed(BoxBlur(nullptr, matte, matte, window));
  }
}

void BM_Contract(benchmark::State& state, const CRunConfig* config) {
  CTailInputs& inputs = TailInputs(*config);
  CCoreImage matte;
  for (auto _ : state) {
    state.PauseTiming();
    ThrowIfFailed(matte.CopyFrom(inputs.matte));
    state.ResumeTiming();
    CPlane plane = ReadPlane(matte);
    for (int i = 0; i < config->contract; ++i) Erode3x3(plane);
    WritePlane(plane, matte);
  }
}

// ---- Summary -------------------------------------------------------------

// Wall seconds of one memcpy of bytes between buffers already written: what
// the machine's memory allows, measured beside the runs it scales.
double MemcpySeconds(size_t bytes) {
  std::vector<char> from(bytes, 1);
  std::vector<char> to(bytes, 2);
  std::vector<double> times;
  for (int i = 0; i < 9; ++i) {
    const double start = WallNow();
    std::memcpy(to.data(), from.data(), bytes);
    times.push_back(WallNow() - start);
    from[static_cast<size_t>(i)] = to[static_cast<size_t>(i) + 1];  // keeps the copies apart
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintSummary() {
  double load[3] = {0, 0, 0};
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3) load[0] = -1;
    std::fclose(f);
  }
  std::printf("\nWhole runs of Process (medians; load average now %.2f %.2f %.2f)\n", load[0],
              load[1], load[2]);
  for (const auto& [key, series] : g_series) {
    if (series.runs.empty()) continue;
    std::vector<double> wall, cpu, sys, peak, before;
    for (const CRunRecord& r : series.runs) {
      wall.push_back(r.wall);
      cpu.push_back(r.cpu);
      sys.push_back(r.sys);
      peak.push_back(r.peakMiB);
      before.push_back(r.rssBeforeMiB);
    }
    std::printf("\n%s, %d x %d, %zu run(s): wall %.3f s (min %.3f, max %.3f), CPU %.3f s (system %.3f s)", key.c_str(),
                series.side, series.side, series.runs.size(), Median(wall),
                *std::min_element(wall.begin(), wall.end()), *std::max_element(wall.begin(), wall.end()),
                Median(cpu), Median(sys));
    if (series.config->targetSeconds > 0 && series.side == 4096)
      std::printf(", target %.1f s", series.config->targetSeconds);
    const double copy = MemcpySeconds(static_cast<size_t>(series.layerMiB * kMiB));
    std::printf("\n  = %.0f x one memcpy of the layer (%.2f ms, median of 9, measured now)", Median(wall) / copy,
                copy * 1e3);
    if (series.side == 4096) std::printf("; target at most %.0f x", series.config->targetCopies);
    std::printf("\n  peak RSS %s %.0f MiB = %.1f x the layer (%.0f MiB); %.0f MiB held before the run\n",
                series.runs.back().peakIsRunOnly ? "during the run" : "of the process", Median(peak),
                Median(peak) / series.layerMiB, series.layerMiB, Median(before));

    const size_t stageCount = series.runs.front().stageWall.size();
    const bool named = stageCount == series.config->stages.size();
    const double totalCpu = Median(cpu);
    std::printf("  %-9s %7s %7s %6s %7s %8s  %s\n", "steps", "wall s", "CPU s", "share", "sys s",
                "faults", "what runs");
    for (size_t s = 0; s < stageCount; ++s) {
      std::vector<double> sw, sc, ss, sf;
      for (const CRunRecord& r : series.runs) {
        if (s < r.stageWall.size()) {
          sw.push_back(r.stageWall[s]);
          sc.push_back(r.stageCpu[s]);
          ss.push_back(r.stageSys[s]);
          sf.push_back(r.stageFaults[s]);
        }
      }
      std::string span = s == 0 ? "start..1" : std::to_string(s) + ".." +
                                                   (s + 1 == stageCount ? "end" : std::to_string(s + 1));
      std::printf("  %-9s %7.3f %7.3f %5.1f%% %7.3f %8.0f  %s\n", span.c_str(), Median(sw),
                  Median(sc), totalCpu > 0 ? 100 * Median(sc) / totalCpu : 0.0, Median(ss),
                  Median(sf), named ? series.config->stages[s] : "");
    }
  }
}

void Register() {
  for (const CRunConfig* config : {&kDefault, &kColourModel, &kEverythingOn}) {
    benchmark::RegisterBenchmark((std::string("Process/") + config->name + "/4096").c_str(),
                                 BM_Process, config, 4096)
        ->Iterations(1)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true)
        ->MeasureProcessCPUTime()
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  // The stages after the last report, on what a real run at 4096 leaves.
  auto stage = [](const char* name, auto function, const CRunConfig* config) {
    benchmark::RegisterBenchmark(name, function, config)
        ->Iterations(3)
        ->MeasureProcessCPUTime()
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  };
  stage("Stage/Feather/1/4096", BM_Feather, &kDefault);
  stage("Stage/CleanUp/default/4096", BM_CleanUp, &kDefault);
  stage("Stage/Feather/10/4096", BM_Feather, &kEverythingOn);
  stage("Stage/RefineEdge/10/4096", BM_RefineEdge, &kEverythingOn);
  stage("Stage/SmoothingBlur/27/4096", BM_SmoothingBlur, &kEverythingOn);
  stage("Stage/Contract/10/4096", BM_Contract, &kEverythingOn);
  // A picture four times as large must still complete.
  for (const CRunConfig* config : {&kDefault, &kEverythingOn}) {
    benchmark::RegisterBenchmark((std::string("Process/") + config->name + "/8192").c_str(),
                                 BM_Process, config, 8192)
        ->Iterations(1)
        ->MeasureProcessCPUTime()
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  CPrivateStore store;
  CProgressScale::SetClockForTesting(&CountingClock);
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_state.reset();  // its filter saves to the private store, which goes next
  PrintSummary();
  return 0;
}
