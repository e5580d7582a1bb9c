#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "HostTestSupport.h"
#include "host/Dispatcher.h"
#include "host/MatteApp.h"
#include "imagecore/CoreResult.h"
#include "imagecore/RowLease.h"

namespace {

// Answers each selector with its own value and remembers the calls.
class CRecordingApp : public CPluginApp {
 public:
  int16_t OnAbout(FilterRecord*, intptr_t* data) override { return Note(0, data); }
  int16_t OnParameters(FilterRecord*, intptr_t* data) override { return Note(1, data); }
  int16_t OnPrepare(FilterRecord*, intptr_t* data) override { return Note(2, data); }
  int16_t OnStart(FilterRecord*, intptr_t* data) override { return Note(3, data); }
  int16_t OnContinue(FilterRecord*, intptr_t* data) override { return Note(4, data); }
  int16_t OnFinish(FilterRecord*, intptr_t* data) override { return Note(5, data); }

  std::vector<int> calls;
  std::vector<intptr_t*> dataPointers;

 private:
  int16_t Note(int which, intptr_t* data) {
    calls.push_back(which);
    dataPointers.push_back(data);
    return static_cast<int16_t>(100 + which);
  }
};

TEST(Dispatcher, EachSelectorReachesItsHandlerAndStoresItsAnswer) {
  CRecordingApp app;
  FilterRecord record{};
  intptr_t data = 77;
  for (int16_t selector = 0; selector <= 5; ++selector) {
    int16_t result = -1;
    DispatchSelector(app, selector, &record, &data, &result);
    EXPECT_EQ(result, 100 + selector);
  }
  EXPECT_EQ(app.calls, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  for (intptr_t* passed : app.dataPointers) EXPECT_EQ(passed, &data);
  EXPECT_EQ(data, 77);
}

TEST(Dispatcher, UnknownSelectorsLeaveTheResultAlone) {
  CRecordingApp app;
  FilterRecord record{};
  intptr_t data = 0;
  for (int16_t selector : {int16_t{6}, int16_t{7}, int16_t{-1}, int16_t{32767},
                           int16_t{-32768}}) {
    int16_t result = 1234;
    DispatchSelector(app, selector, &record, &data, &result);
    EXPECT_EQ(result, 1234) << "selector " << selector;
  }
  EXPECT_TRUE(app.calls.empty());
}

TEST(PluginApp, ParametersAskForTheWholeLayerAndEveryPlane) {
  CMatteApp app;
  for (int planes : {1, 3, 4}) {
    CHostRun run(37, 21, planes, plugInModeRGBColor);
    run.record.filterRect = VRect{5, 5, 6, 6};  // a selection is not consulted
    int16_t result = 99;
    DispatchSelector(app, filterSelectorParameters, &run.record, nullptr, &result);
    EXPECT_EQ(result, noErr);
    for (const VRect* rect : {&run.record.inRect, &run.record.outRect, &run.record.maskRect}) {
      EXPECT_EQ(rect->top, 0);
      EXPECT_EQ(rect->left, 0);
      EXPECT_EQ(rect->bottom, 21);
      EXPECT_EQ(rect->right, 37);
    }
    EXPECT_EQ(run.record.inLoPlane, 0);
    EXPECT_EQ(run.record.outLoPlane, 0);
    EXPECT_EQ(run.record.inHiPlane, planes - 1);
    EXPECT_EQ(run.record.outHiPlane, planes - 1);
  }
}

TEST(PluginApp, OtherSelectorsAnswerAtOnceAndChangeNothing) {
  CMatteApp app;
  CBoxRecorder boxes;
  for (int16_t selector : {filterSelectorAbout, filterSelectorPrepare, filterSelectorStart,
                           filterSelectorFinish}) {
    CHostRun run(4, 4, 3, plugInModeGrayScale);  // even a layer the filter refuses
    const FilterRecord before = run.record;
    int16_t result = 99;
    DispatchSelector(app, selector, &run.record, nullptr, &result);
    EXPECT_EQ(result, noErr);
    EXPECT_EQ(std::memcmp(&before, &run.record, sizeof before), 0);
    EXPECT_EQ(run.out, std::vector<uint8_t>(run.out.size(), kUntouched));
  }
  EXPECT_TRUE(boxes.boxes.empty());
}

KelvanePlatformData ScriptedPlatform(const char* script) {
  KelvanePlatformData platform{};
  platform.size = sizeof platform;
  platform.scriptPath = "session";
  platform.scriptText = script;
  platform.scriptStatus = -1;
  return platform;
}

TEST(MatteApp, ContinueOnRgbaWritesTheLayerBackAndEmptiesTheRectangles) {
  CMatteApp app;
  CBoxRecorder boxes;
  // 63 columns are too few for a run: the session's result is the layer as
  // it came. 140 rows are more than one strip.
  CHostRun run(63, 140, 4, plugInModeRGBColor);
  KelvanePlatformData platform = ScriptedPlatform("object 1,1\napply\nok\n");
  run.record.platformData = &platform;
  int16_t result = 99;
  DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result);
  EXPECT_EQ(result, noErr);
  EXPECT_EQ(platform.scriptStatus, keScriptStatusOk);
  EXPECT_TRUE(IsEmptyRect(run.record.inRect));
  EXPECT_TRUE(IsEmptyRect(run.record.outRect));
  EXPECT_TRUE(IsEmptyRect(run.record.maskRect));
  EXPECT_EQ(run.out, run.in);
  EXPECT_EQ(app.m_image.m_filterRecord, &run.record);
  EXPECT_EQ(app.m_image.GetImage()->StorageFormat(), keFormatBGRA);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST(MatteApp, CancelScriptErrorsAndAMissingEditorLeaveTheOutputUntouched) {
  struct Case {
    const char* script;  // null: no script at all
    int32_t status;
    size_t boxes;
  };
  for (const Case c : {Case{"cancel\n", keScriptStatusOk, 0},
                       Case{"apply\n", keScriptStatusScriptError, 0},
                       Case{"frobnicate\n", keScriptStatusScriptError, 0},
                       Case{nullptr, -1, 1}}) {
    CMatteApp app;
    CBoxRecorder boxes;
    CHostRun run(80, 70, 4, plugInModeRGBColor);
    KelvanePlatformData platform = ScriptedPlatform(c.script);
    if (!c.script) platform.scriptPath = nullptr;
    run.record.platformData = &platform;
    int16_t result = 99;
    DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result);
    const std::string what = c.script ? c.script : "no script";
    EXPECT_EQ(result, userCanceledErr) << what;
    EXPECT_EQ(platform.scriptStatus, c.status) << what;
    EXPECT_EQ(boxes.boxes.size(), c.boxes) << what;
    EXPECT_EQ(run.out, std::vector<uint8_t>(run.out.size(), kUntouched)) << what;
  }
}

TEST(MatteApp, AHostWithoutPlatformDataGetsTheMissingEditorBox) {
  CMatteApp app;
  CBoxRecorder boxes;
  CHostRun run(80, 70, 4, plugInModeRGBColor);
  run.record.platformData = nullptr;
  int16_t result = 99;
  DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result);
  EXPECT_EQ(result, userCanceledErr);
  EXPECT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(run.out, std::vector<uint8_t>(run.out.size(), kUntouched));
}

// What a host that shows messages itself was handed.
struct CHostMessages {
  std::vector<std::pair<int32_t, std::string>> received;  // kind, caption and text
  static void Show(void* context, int32_t kind, const char* caption, const char* text) {
    static_cast<CHostMessages*>(context)->received.emplace_back(
        kind, std::string(caption) + "|" + text);
  }
};

TEST(MatteApp, AHostThatShowsMessagesGetsTheBoxesAndTheScriptsEndInsteadOfStandardError) {
  struct Case {
    const char* script;  // null: no script and no display
    int planes;
    int32_t kind;
    const char* starts;  // how the message begins
  };
  for (const Case c :
       {Case{"apply\n", 4, keHostMessageScriptEnd, "Kelvane|session:1: 'apply' refused"},
        Case{nullptr, 4, keHostMessageBox, "Kelvane|The editor window needs a display."},
        Case{"cancel\n", 3, keHostMessageBox, "! Input Data Error !|File is wrong format."}}) {
    CMatteApp app;
    CBoxRecorder boxes;
    CHostRun run(80, 70, c.planes, plugInModeRGBColor);
    KelvanePlatformData platform = ScriptedPlatform(c.script);
    if (!c.script) platform.scriptPath = nullptr;
    CHostMessages messages;
    platform.showMessage = &CHostMessages::Show;
    platform.messageContext = &messages;
    run.record.platformData = &platform;
    int16_t result = 99;
    DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result);
    const std::string what = c.script ? c.script : "no script";
    EXPECT_EQ(result, userCanceledErr) << what;
    EXPECT_TRUE(boxes.boxes.empty()) << what;
    ASSERT_EQ(messages.received.size(), 1u) << what;
    EXPECT_EQ(messages.received[0].first, c.kind) << what;
    EXPECT_EQ(messages.received[0].second.rfind(c.starts, 0), 0u) << messages.received[0].second;
  }
}

// A warning reaches a host that shows messages as a message of its own
// kind, before the script's end; nothing of it goes to standard error.
TEST(MatteApp, AScriptWarningGoesToTheHostThatShowsMessages) {
  CMatteApp app;
  CBoxRecorder boxes;
  CHostRun run(80, 70, 4, plugInModeRGBColor);
  KelvanePlatformData platform = ScriptedPlatform("object 900,1\nundo\nundo\n");
  CHostMessages messages;
  platform.showMessage = &CHostMessages::Show;
  platform.messageContext = &messages;
  run.record.platformData = &platform;
  int16_t result = 99;
  DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result);
  EXPECT_EQ(platform.scriptStatus, keScriptStatusScriptError);
  EXPECT_TRUE(boxes.boxes.empty());
  ASSERT_EQ(messages.received.size(), 2u);
  EXPECT_EQ(messages.received[0].first, keHostMessageScriptWarning);
  EXPECT_EQ(messages.received[0].second.rfind("Kelvane|session:1:8: warning: the point 900,1 "
                                              "lies outside the 80 x 70 picture",
                                              0),
            0u)
      << messages.received[0].second;
  EXPECT_EQ(messages.received[1].first, keHostMessageScriptEnd);
}

// A batch's host asks for its script to be checked before any picture.
TEST(MatteApp, AScriptToCheckIsReadThroughAndNothingOfItRuns) {
  const std::string folder = ::testing::TempDir();
  const std::string typo = folder + "/check-typo.txt";
  const std::string sound = folder + "/check-sound.txt";
  std::ofstream(typo) << "object 1,1\n  aply\n";
  // Refused by a session, but no session is needed to know the lines.
  std::ofstream(sound) << "apply\nundo\nok\nnot read after ok\n";
  struct Case {
    std::string path;
    int32_t status;
    std::string starts;  // how the message begins; empty: no message
  };
  for (const Case& c : {Case{typo, keScriptStatusScriptError,
                             "Kelvane|" + typo + ":2:3: unknown command 'aply'"},
                        Case{sound, keScriptStatusOk, ""},
                        Case{folder + "/none.txt", keScriptStatusScriptError,
                             "Kelvane|" + folder + "/none.txt: the script cannot be opened"}}) {
    CMatteApp app;
    CBoxRecorder boxes;
    CHostRun run(1, 1, 4, plugInModeRGBColor);
    KelvanePlatformData platform{};
    platform.size = sizeof platform;
    platform.scriptStatus = -1;
    platform.checkScriptPath = c.path.c_str();
    CHostMessages messages;
    platform.showMessage = &CHostMessages::Show;
    platform.messageContext = &messages;
    run.record.platformData = &platform;
    int16_t result = 99;
    DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result);
    EXPECT_EQ(result, userCanceledErr) << c.path;
    EXPECT_EQ(platform.scriptStatus, c.status) << c.path;
    EXPECT_EQ(run.out, std::vector<uint8_t>(run.out.size(), kUntouched)) << c.path;
    EXPECT_TRUE(boxes.boxes.empty()) << c.path;
    if (c.starts.empty()) {
      EXPECT_TRUE(messages.received.empty()) << c.path;
    } else {
      ASSERT_EQ(messages.received.size(), 1u) << c.path;
      EXPECT_EQ(messages.received[0].first, keHostMessageScriptEnd);
      EXPECT_EQ(messages.received[0].second.rfind(c.starts, 0), 0u) << messages.received[0].second;
    }
  }
  std::remove(typo.c_str());
  std::remove(sound.c_str());
}

TEST(MatteApp, AnOlderHostsShorterPlatformDataIsNotReadPastItsEnd) {
  CMatteApp app;
  CBoxRecorder boxes;
  CHostRun run(63, 140, 4, plugInModeRGBColor);
  KelvanePlatformData platform = ScriptedPlatform("object 1,1\napply\nok\n");
  // What lies beyond the size the host gave is not the module's to read.
  platform.size = offsetof(KelvanePlatformData, checkScriptPath);
  platform.checkScriptPath = "/nonexistent/script.txt";
  run.record.platformData = &platform;
  int16_t result = 99;
  DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result);
  EXPECT_EQ(result, noErr);
  EXPECT_EQ(platform.scriptStatus, keScriptStatusOk);
  EXPECT_EQ(run.out, run.in);
}

TEST(MatteApp, AScriptTextPastTheBoundIsRefusedBeforeAnyOfItRuns) {
  CMatteApp app;
  CBoxRecorder boxes;
  CHostRun run(63, 140, 4, plugInModeRGBColor);
  // Carried out, the first line would end the session without an error.
  std::string text = "cancel\n";
  text.resize(kScriptByteLimit + 1, '#');
  KelvanePlatformData platform = ScriptedPlatform(text.c_str());
  CHostMessages messages;
  platform.showMessage = &CHostMessages::Show;
  platform.messageContext = &messages;
  run.record.platformData = &platform;
  int16_t result = 99;
  DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result);
  EXPECT_EQ(result, userCanceledErr);
  EXPECT_EQ(platform.scriptStatus, keScriptStatusScriptError);
  ASSERT_EQ(messages.received.size(), 1u);
  EXPECT_EQ(messages.received[0].second, "Kelvane|session: the script is longer than 4 MiB: no "
                                         "session is that long");
  EXPECT_EQ(run.out, std::vector<uint8_t>(run.out.size(), kUntouched));
}

TEST(MatteApp, RefusesAnythingButRgbWithTransparencyOnceAndWritesNothing) {
  struct Case {
    int planes;
    int16_t mode;
  };
  for (const Case c : {Case{3, plugInModeRGBColor}, Case{1, plugInModeGrayScale},
                       Case{2, plugInModeGrayScale}, Case{4, plugInModeGrayScale},
                       Case{4, plugInModeCMYKColor}, Case{5, plugInModeCMYKColor},
                       Case{5, plugInModeRGBColor}}) {
    CMatteApp app;
    CBoxRecorder boxes;
    CHostRun run(8, 6, c.planes, c.mode);
    int16_t result = 99;
    DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result);
    EXPECT_EQ(result, userCanceledErr) << c.planes << " planes, mode " << c.mode;
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "! Input Data Error !");
    EXPECT_EQ(boxes.boxes[0].text,
              "File is wrong format. Possibly missing layers.\n"
              "Program requires RGBA image (24 bit + transparency).");
    EXPECT_EQ(boxes.boxes[0].type, static_cast<unsigned>(MB_OK));
    EXPECT_EQ(run.out, std::vector<uint8_t>(run.out.size(), kUntouched));
    EXPECT_TRUE(IsEmptyRect(run.record.inRect));  // the host must not call again
    EXPECT_EQ(app.m_image.m_filterRecord, nullptr);
  }
}

TEST(PluginApp, BaseAcceptsGreyAndRgbButAnOddPlaneCountTransfersNothing) {
  CPluginApp app;
  CHostRun grey(5, 3, 2, plugInModeGrayScale);
  int16_t result = 99;
  DispatchSelector(app, filterSelectorContinue, &grey.record, nullptr, &result);
  EXPECT_EQ(result, noErr);
  EXPECT_EQ(grey.out, grey.in);

  CHostRun odd(5, 3, 5, plugInModeRGBColor);
  result = 99;
  DispatchSelector(app, filterSelectorContinue, &odd.record, nullptr, &result);
  EXPECT_EQ(result, noErr);
  EXPECT_FALSE(app.m_image.GetImage()->HasStorage());
  EXPECT_EQ(odd.out, std::vector<uint8_t>(odd.out.size(), kUntouched));

  CHostRun cmyk(5, 3, 4, plugInModeCMYKColor);
  result = 99;
  DispatchSelector(app, filterSelectorContinue, &cmyk.record, nullptr, &result);
  EXPECT_EQ(result, userCanceledErr);
  EXPECT_EQ(cmyk.out, std::vector<uint8_t>(cmyk.out.size(), kUntouched));
}

// Fails inside the run the way the core or the editor can.
class CFailingApp : public CMatteApp {
 public:
  enum keHow { keCore, keNoMemory, keStd, keOther };
  explicit CFailingApp(keHow how) : m_how(how) {}
  bool RunEditor() override {
    switch (m_how) {
      case keCore: throw CJException(keErrOutOfMemory);
      case keNoMemory: throw std::bad_alloc();
      case keStd: throw std::runtime_error("worker lost");
      case keOther: throw 42;
    }
    return true;
  }

 private:
  keHow m_how;
};

TEST(Dispatcher, NoFailureLeavesTheEntryPathAndTheOutputStaysUntouched) {
  struct Case {
    CFailingApp::keHow how;
    const char* mustMention;
  };
  for (const Case c : {Case{CFailingApp::keCore, "(error 102)"},
                       Case{CFailingApp::keNoMemory, "(error 102)"},
                       Case{CFailingApp::keStd, "worker lost"},
                       Case{CFailingApp::keOther, "unknown"}}) {
    CFailingApp app(c.how);
    CBoxRecorder boxes;
    CHostRun run(6, 4, 4, plugInModeRGBColor);
    int16_t result = 99;
    EXPECT_NO_THROW(DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result));
    EXPECT_EQ(result, userCanceledErr);
    EXPECT_EQ(run.out, std::vector<uint8_t>(run.out.size(), kUntouched));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].text.find(c.mustMention), std::string::npos) << boxes.boxes[0].text;
  }
}

TEST(Dispatcher, CoreFailureBoxCarriesTheCoresMessage) {
  CFailingApp app(CFailingApp::keCore);
  CBoxRecorder boxes;
  CHostRun run(6, 4, 4, plugInModeRGBColor);
  int16_t result = 99;
  DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  CJException expected(keErrOutOfMemory);
  EXPECT_NE(boxes.boxes[0].text.find(expected.MessageText()), std::string::npos)
      << boxes.boxes[0].text;
}

}  // namespace

namespace {

class CCancellingApp : public CMatteApp {
 public:
  bool RunEditor() override {
    // Whatever the editor did to the layer, Cancel must not let it out.
    CRowLease(*m_image.GetImage(), 0).Data()[0] = 0;
    return false;
  }
};

TEST(PluginApp, CancelledEditorEndsWithoutAResultAndWritesNothing) {
  CCancellingApp app;
  CBoxRecorder boxes;
  CHostRun run(9, 7, 4, plugInModeRGBColor);
  int16_t result = 99;
  DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result);
  EXPECT_EQ(result, userCanceledErr);
  EXPECT_EQ(run.out, std::vector<uint8_t>(run.out.size(), kUntouched));
  EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace

namespace {

TEST(Dispatcher, ARealCoreFailureWhileReadingTheLayerIsShownAndCancels) {
  CMatteApp app;
  CBoxRecorder boxes;
  CHostRun run(6, 4, 4, plugInModeRGBColor);
  run.record.imageSize.h = -6;  // a host that reports a size no image can have
  int16_t result = 99;
  EXPECT_NO_THROW(DispatchSelector(app, filterSelectorContinue, &run.record, nullptr, &result));
  EXPECT_EQ(result, userCanceledErr);
  EXPECT_EQ(run.out, std::vector<uint8_t>(run.out.size(), kUntouched));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_NE(boxes.boxes[0].text.find("(error "), std::string::npos) << boxes.boxes[0].text;
}

}  // namespace
