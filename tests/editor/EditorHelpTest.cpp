// Help opens the user guide in a browser, or says where the page is.
#include <sys/stat.h>

#include <QProcess>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "../tools/MessageBoxRecorder.h"
#include "EditorWindowHarness.h"

namespace {

// Points PATH at one folder for the life of the object.
class CPathOverride {
 public:
  explicit CPathOverride(const std::string& folder) {
    if (const char* old = std::getenv("PATH")) m_old = old;
    setenv("PATH", folder.c_str(), 1);
  }
  ~CPathOverride() { setenv("PATH", m_old.c_str(), 1); }
  CPathOverride(const CPathOverride&) = delete;
  CPathOverride& operator=(const CPathOverride&) = delete;

 private:
  std::string m_old;
};

class EditorHelpTest : public CEditorWindowTest {
 protected:
  EditorHelpTest() {
    std::filesystem::create_directories(Bin());
    // Characters a shell would act on: the path must arrive as it is.
    std::ofstream(page) << "<html></html>\n";
  }

  std::string Bin() const { return config.Folder() + "/bin"; }

  // An xdg-open that runs `body` as a shell script.
  void FakeOpener(const std::string& body) const {
    const std::string path = Bin() + "/xdg-open";
    std::ofstream(path) << "#!/bin/sh\nPATH=/usr/bin:/bin\n" << body << "\n";
    chmod(path.c_str(), 0755);
  }

  // Clicks Help with the page set, and returns the boxes shown until
  // `done` holds (or a box is shown when `done` is empty).
  std::vector<std::string> ClickHelp(const std::function<bool()>& done = {}) {
    CBoxRecorder boxes;
    const CPathOverride path(Bin());
    Run([&](CEditorDialog& editor) {
      editor.SetHelpPage(QString::fromStdString(page));
      Click(EditorButton(IDC_HELP));
      EXPECT_TRUE(WaitUntil(done ? done : [&] { return !boxes.texts.empty(); }, 10000));
      // The opener has ended and is gone.
      EXPECT_TRUE(WaitUntil([&] { return editor.findChildren<QProcess*>().isEmpty(); }, 10000));
      Click(EditorButton(IDCANCEL));
    });
    return boxes.texts;
  }

  std::string Failure() const {
    return "The help page could not be opened in a browser. You can open it yourself: " + page;
  }

  std::string page = config.Folder() + "/user guide $HOME 'x'.html";
};

}  // namespace

TEST_F(EditorHelpTest, WithoutAnOpenerOnThePathABoxNamesThePage) {
  EXPECT_EQ(ClickHelp(), std::vector<std::string>{Failure()});
}

TEST_F(EditorHelpTest, AnOpenerThatFailsLeadsToABoxNamingThePage) {
  FakeOpener("exit 3");
  EXPECT_EQ(ClickHelp(), std::vector<std::string>{Failure()});
}

TEST_F(EditorHelpTest, AnOpenerThatSucceedsGetsThePageAsOneArgumentAndNoBoxIsShown) {
  const std::string received = config.Folder() + "/received";
  FakeOpener("printf '%s' \"$1\" > '" + received + "'\necho $# >> '" + received + "'");
  const std::vector<std::string> boxes =
      ClickHelp([&] { return std::filesystem::exists(received); });
  EXPECT_TRUE(boxes.empty());
  std::ifstream in(received);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, page + "1\n");
}

TEST_F(EditorHelpTest, AMissingPageIsSaidToBeMissing) {
  FakeOpener("exit 0");
  std::filesystem::remove(page);
  EXPECT_EQ(ClickHelp(), std::vector<std::string>{"The help page is missing: " + page});
}

TEST_F(EditorHelpTest, AnOpenerStillRunningOutlivesTheWindow) {
  // The opener may be the browser itself: closing the editor must not end it.
  const std::string done = config.Folder() + "/done";
  FakeOpener("sleep 1\ntouch '" + done + "'");
  CBoxRecorder boxes;
  bool openerGone = false;
  {
    const CPathOverride path(Bin());
    Run([&](CEditorDialog& editor) {
      editor.SetHelpPage(QString::fromStdString(page));
      Click(EditorButton(IDC_HELP));
      const QList<QProcess*> openers = editor.findChildren<QProcess*>();
      ASSERT_EQ(openers.size(), 1);
      QObject::connect(openers[0], &QObject::destroyed, [&] { openerGone = true; });
      Click(EditorButton(IDCANCEL));
    });
  }
  EXPECT_FALSE(std::filesystem::exists(done));
  EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(done); }, 10000));
  // It ends and goes of itself, however long the machine takes to tell.
  EXPECT_TRUE(WaitUntil([&] { return openerGone; }, 10000));
  EXPECT_TRUE(boxes.texts.empty());
}
