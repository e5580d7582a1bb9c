#include "tools/gimp/GimpHost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

CPluginInfo Module(const std::string& name, const std::string& category) {
  CPluginInfo info;
  info.name = name;
  info.category = category;
  info.path = "/x/" + name;
  return info;
}

TEST(GimpHost, ProceduresAreNamedAfterTheModulesMenuNameUnderItsCategory) {
  const CGimpProcedure kelvane = ProcedureFor(Module("Kelvane...", "Orvanta"));
  EXPECT_EQ(kelvane.name, "plug-in-kelvane");
  EXPECT_EQ(kelvane.menuLabel, "Kelvane...");
  EXPECT_EQ(kelvane.menuPath, "<Image>/Filters/Orvanta");
  const CGimpProcedure other = ProcedureFor(Module("Soft Edge 2 (fast)", ""));
  EXPECT_EQ(other.name, "plug-in-soft-edge-2-fast");
  EXPECT_EQ(other.menuPath, "<Image>/Filters");
}

TEST(GimpHost, FindsTheBuildsModuleOnceWhateverTheFoldersRepeat) {
  const std::vector<CGimpProcedure> found =
      FindGimpProcedures({KELVANE_PLUGIN_DIR, KELVANE_PLUGIN_DIR, "/no/such/folder"});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, "plug-in-kelvane");
  EXPECT_EQ(found[0].module.path, std::string(KELVANE_PLUGIN_DIR) + "/kelvane.8bf");
}

class GimpHostRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<CGimpProcedure> found = FindGimpProcedures({KELVANE_PLUGIN_DIR});
    ASSERT_EQ(found.size(), 1u);
    m_procedure = found[0];
    // A grey frame around a red square, opaque.
    m_layer.width = 90;
    m_layer.height = 70;
    m_layer.planes = 4;
    m_layer.imageMode = plugInModeRGBColor;
    for (int y = 0; y < m_layer.height; ++y) {
      for (int x = 0; x < m_layer.width; ++x) {
        const bool inside = x > 30 && x < 60 && y > 20 && y < 50;
        const std::vector<uint8_t> pixel =
            inside ? std::vector<uint8_t>{200, 20, 20, 255} : std::vector<uint8_t>{90, 90, 90, 255};
        m_layer.bytes.insert(m_layer.bytes.end(), pixel.begin(), pixel.end());
      }
    }
  }

  CGimpRunResult Replay(const std::string& script) {
    CGimpRunRequest request;
    request.script = script;
    return RunGimpProcedure(m_procedure, m_layer, request);
  }

  CGimpProcedure m_procedure;
  CHostLayer m_layer;
};

TEST_F(GimpHostRun, AReplayedScriptLeavesTheFiltersResultInTheLayer) {
  const CGimpRunResult result = Replay("background 1,1\nobject 45,35\napply\nok\n");
  EXPECT_EQ(result.end, CGimpRunResult::EEnd::kResult) << result.error;
  EXPECT_EQ(m_layer.bytes[3], 0) << "the frame's corner is background";
  EXPECT_EQ(m_layer.bytes[(35 * 90 + 45) * 4 + 3], 255) << "the square is kept";
  EXPECT_TRUE(result.messages.empty());
}

TEST_F(GimpHostRun, ScriptErrorsAndFailedRunsBecomeTheCallsErrorNamingTheScript) {
  const CGimpRunResult refused = Replay("apply\n");
  EXPECT_EQ(refused.end, CGimpRunResult::EEnd::kFailed);
  EXPECT_EQ(refused.error.rfind("<script>:1: 'apply' refused", 0), 0u) << refused.error;
  EXPECT_TRUE(refused.messages.empty()) << "the error is said once, as the call's";

  const CGimpRunResult cancelled = Replay("object 45,35\ncancel\n");
  EXPECT_EQ(cancelled.end, CGimpRunResult::EEnd::kCancelled);
  EXPECT_TRUE(cancelled.error.empty());
}

// GIMP shows the plug-in's messages; a point meant for a larger picture is
// one of them, and the run still succeeds.
TEST_F(GimpHostRun, APointOutsideTheLayerIsAmongTheMessagesOfASuccessfulRun) {
  const CGimpRunResult result = Replay("background 1,1 900,900\nobject 45,35\napply\nok\n");
  EXPECT_EQ(result.end, CGimpRunResult::EEnd::kResult) << result.error;
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_NE(result.messages[0].find("<script>:1:16: warning: the point 900,900 lies outside the "
                                    "90 x 70 picture"),
            std::string::npos)
      << result.messages[0];
}

TEST_F(GimpHostRun, AnInteractiveRunWithoutADisplayEndsWithTheFiltersMessage) {
  CGimpRunRequest request;
  request.interactive = true;
  const CGimpRunResult result = RunGimpProcedure(m_procedure, m_layer, request);
  EXPECT_EQ(result.end, CGimpRunResult::EEnd::kCancelled);
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_NE(result.messages[0].find("The editor window needs a display"), std::string::npos)
      << result.messages[0];
}

}  // namespace
