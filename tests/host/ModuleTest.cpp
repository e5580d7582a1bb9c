// The built module loaded as a host loads it and run through its entry point.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sched.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "HostTestSupport.h"
#include "platform/HostInterface.h"

namespace {

const std::string kModule = std::string(KELVANE_PLUGIN_DIR) + "/kelvane.8bf";

int ThreadCount() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<int>(std::distance(begin(tasks), end(tasks)));
}

TEST(Module, UnloadingEndsTheThreadsItKeptForRowBands) {
  cpu_set_t cores;
  CPU_ZERO(&cores);
  ASSERT_EQ(sched_getaffinity(0, sizeof cores, &cores), 0);
  if (CPU_COUNT(&cores) < 2) GTEST_SKIP() << "one core: the module copies rows in one band";
  // Declared first for this: a run on this thread keeps the module loaded.
  if (dlopen(kModule.c_str(), RTLD_NOW | RTLD_NOLOAD)) GTEST_SKIP() << "an earlier run holds the module";
  const int before = ThreadCount();
  void* module = dlopen(kModule.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto entry = reinterpret_cast<FilterEntryProc>(dlsym(module, "ENTRYPOINT"));
  ASSERT_NE(entry, nullptr);

  // Tall enough for the layer's rows to be copied in two bands at least.
  CHostRun run(8, 512, 4, plugInModeRGBColor);
  KelvanePlatformData platform{};
  platform.size = sizeof platform;
  platform.scriptPath = "session";
  platform.scriptText = "object 0,0\napply\nok\n";
  run.record.platformData = &platform;
  // On a host thread that ends before the unload: what the module keeps
  // per thread holds it loaded for as long as that thread lives.
  int16_t afterParameters = 99;
  int16_t afterContinue = 99;
  int threadsDuringRun = 0;
  std::thread host([&] {
    intptr_t data = 0;
    entry(filterSelectorParameters, &run.record, &data, &afterParameters);
    entry(filterSelectorContinue, &run.record, &data, &afterContinue);
    threadsDuringRun = ThreadCount();
  });
  host.join();
  EXPECT_EQ(afterParameters, noErr);
  EXPECT_EQ(afterContinue, noErr);
  EXPECT_GT(threadsDuringRun, before + 1) << "no band worker was kept";

  // Unmapped with a worker still waiting, the process would crash.
  ASSERT_EQ(dlclose(module), 0);
  EXPECT_EQ(dlopen(kModule.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "the module stayed loaded";
  EXPECT_EQ(ThreadCount(), before);
}

TEST(Module, RunsALayerThroughTheEntryPointAndUnloadsCleanly) {
  // Twice: the second load must start the module afresh after the unload.
  for (int load = 0; load < 2; ++load) {
    void* module = dlopen(kModule.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto entry = reinterpret_cast<FilterEntryProc>(dlsym(module, "ENTRYPOINT"));
    ASSERT_NE(entry, nullptr);

    // Too small for a run: the session hands the layer back as it came.
    const int width = 5;
    const int height = 3;
    std::vector<uint8_t> in(width * height * 4);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 11);
    std::vector<uint8_t> out(in.size(), 0);
    FilterRecord record{};
    record.imageSize = VPoint{height, width};
    record.planes = 4;
    record.imageMode = plugInModeRGBColor;
    KelvanePlatformData platform{};
    platform.size = sizeof platform;
    platform.scriptPath = "session";
    platform.scriptText = "object 0,0\napply\nok\n";
    record.platformData = &platform;
    intptr_t data = 0;
    int16_t result = 99;
    entry(filterSelectorParameters, &record, &data, &result);
    EXPECT_EQ(result, noErr);
    EXPECT_EQ(record.inRect.bottom, height);
    EXPECT_EQ(record.inRect.right, width);
    record.inData = in.data();
    record.inRowBytes = width * 4;
    record.outData = out.data();
    record.outRowBytes = width * 4;
    result = 99;
    entry(filterSelectorContinue, &record, &data, &result);
    EXPECT_EQ(result, noErr);
    EXPECT_EQ(out, in);
    EXPECT_EQ(platform.scriptStatus, keScriptStatusOk);
    result = 1234;
    entry(6, &record, &data, &result);
    EXPECT_EQ(result, 1234);
    EXPECT_EQ(dlclose(module), 0);
  }
}

}  // namespace
