#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gimp/GimpRun.h"
#include "tools/PngTestFiles.h"

namespace {

// A sky from blue to white over a red disc, without alpha.
void WriteSkyPicture(const std::string& path, int width, int height) {
  std::vector<std::vector<uint8_t>> rows;
  for (int y = 0; y < height; ++y) {
    std::vector<uint8_t> row;
    for (int x = 0; x < width; ++x) {
      const int dx = x - width / 2;
      const int dy = y - height / 2;
      const bool disc = dx * dx + dy * dy < (height / 4) * (height / 4);
      const auto shade = static_cast<uint8_t>(135 + 120 * y / height);
      row.push_back(disc ? 220 : shade);
      row.push_back(disc ? 30 : static_cast<uint8_t>(shade + (255 - shade) / 3));
      row.push_back(disc ? 40 : 235);
    }
    rows.push_back(row);
  }
  ASSERT_TRUE(WriteTestPng(path, width, height, PNG_COLOR_TYPE_RGB, 8, rows));
}

const char* const kScript = "background 2,2 197,2 2,147\nobject 100,75\napply\nok\n";

// Loads a picture, keeping its one layer for the commands.
std::string WithLayer(const std::string& picture, const std::string& commands) {
  return "(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"" + picture + "\" \"" +
         picture + "\"))) (layer (car (gimp-image-get-active-layer image)))) " + commands + ")";
}

// PNG export that keeps the colour of transparent pixels, as kelvane does.
std::string Export(const std::string& path) {
  return "(file-png-save2 RUN-NONINTERACTIVE image layer \"" + path + "\" \"" + path +
         "\" 0 1 0 0 0 0 0 0 1)";
}

class GimpPluginTest : public CGimpFolderTest {};

TEST_F(GimpPluginTest, RegistersOneProcedureUnderFiltersAndTheModulesCategoryForRgbImages) {
  const CRun run = Gimp("(gimp-message (number->string (car (gimp-procedural-db-proc-exists "
                        "\"plug-in-kelvane\"))))");
  EXPECT_NE(run.output.find("script-fu-Warning: 1"), std::string::npos) << run.output;
  std::ifstream file(m_dir / "gimp" / "pluginrc");
  std::stringstream text;
  text << file.rdbuf();
  const std::string rc = text.str();
  const size_t def = rc.find("(proc-def \"plug-in-kelvane\"");
  ASSERT_NE(def, std::string::npos) << rc.substr(0, 2000);
  const std::string entry = rc.substr(def, rc.find("(proc-def", def + 1) - def);
  EXPECT_NE(entry.find("\"Kelvane...\""), std::string::npos) << entry;
  EXPECT_NE(entry.find("(menu-path \"<Image>/Filters/Orvanta\")"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\"RGB*\""), std::string::npos) << entry;
  EXPECT_NE(entry.find("(proc-arg 4 \"script\""), std::string::npos) << entry;
}

TEST_F(GimpPluginTest, AScriptRunInGimpGivesThePixelsKelvaneWritesAndRepeatsWithLastValues) {
  WriteSkyPicture(Path("in.png"), 200, 150);
  WriteText("session.txt", kScript);
  const CRun kelvane = Kelvane("--script session.txt in.png kelvane.png");
  ASSERT_EQ(kelvane.status, 0) << kelvane.output;

  const CRun gimp =
      Gimp("(begin " +
           WithLayer(Path("in.png"), "(plug-in-kelvane RUN-NONINTERACTIVE image layer " +
                                         SchemeString(kScript) + ") " + Export(Path("gimp.png"))) +
           WithLayer(Path("in.png"), "(plug-in-kelvane RUN-WITH-LAST-VALS image layer \"\") " +
                                         Export(Path("again.png"))) +
           ")");
  const std::vector<uint8_t> expected = ReadRgba(Path("kelvane.png"));
  ASSERT_FALSE(expected.empty());
  size_t transparent = 0;
  for (size_t i = 3; i < expected.size(); i += 4) transparent += expected[i] == 0;
  EXPECT_GT(transparent, expected.size() / 4 / 8) << "the background should have gone";
  EXPECT_EQ(ReadRgba(Path("gimp.png")), expected) << gimp.output;
  EXPECT_EQ(ReadRgba(Path("again.png")), expected) << gimp.output;
}

TEST_F(GimpPluginTest, ABadScriptFailsTheCallWithTheScriptsMessageAndLeavesTheLayer) {
  WriteSkyPicture(Path("in.png"), 60, 40);
  // The first call's failure is caught so the layer can be exported after it;
  // the second's reaches the batch, which prints it.
  const CRun gimp = Gimp(WithLayer(
      Path("in.png"),
      "(catch #f (plug-in-kelvane RUN-NONINTERACTIVE image layer \"object 5,5\\napply\\nbogus\\n\")) " +
          Export(Path("after.png")) +
          " (gimp-message (if (= 0 (car (gimp-drawable-has-alpha layer))) \"no alpha\" \"alpha\"))"
          " (plug-in-kelvane RUN-NONINTERACTIVE image layer \"object 5,5\\nbogus\\n\")"));
  EXPECT_EQ(ReadRgba(Path("after.png")), ReadRgba(Path("in.png"))) << gimp.output;
  EXPECT_NE(gimp.output.find("no alpha"), std::string::npos) << gimp.output;
  EXPECT_NE(gimp.output.find("Procedure execution of plug-in-kelvane failed: <script>:2:1: "
                             "unknown command 'bogus'"),
            std::string::npos)
      << gimp.output;
}

// Headless batches must be able to tell a call that did nothing: repeating a
// call that never ran, and the editor without a display, fail with the reason.
TEST_F(GimpPluginTest, ARepeatWithNothingToRepeatAndTheEditorWithoutADisplayFailTheCall) {
  WriteSkyPicture(Path("in.png"), 60, 40);
  const CRun repeat =
      Gimp(WithLayer(Path("in.png"), "(plug-in-kelvane RUN-WITH-LAST-VALS image layer \"\")"));
  EXPECT_NE(repeat.output.find("Procedure execution of plug-in-kelvane failed: there is nothing "
                               "to repeat"),
            std::string::npos)
      << repeat.output;
  const CRun editor =
      Gimp(WithLayer(Path("in.png"), "(plug-in-kelvane RUN-INTERACTIVE image layer \"\")"));
  EXPECT_NE(editor.output.find("Procedure execution of plug-in-kelvane failed: the editor needs "
                               "a display"),
            std::string::npos)
      << editor.output;
}

}  // namespace
