// The preset row of the editor window, shown as the host's --presets asks:
// the list, the two image buttons and the Save Style dialog, driven as a
// user drives them.
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../tools/MessageBoxRecorder.h"
#include "EditorWindowHarness.h"
#include "editor/PresetImageButton.h"
#include "framework/Param.h"
#include "framework/dialogs/SaveStyleDialog.h"
#include "imagecore/LayerBlend.h"
#include "platform/MessageBox.h"

namespace fs = std::filesystem;

namespace {

const char kWide[] =
    "Kelvane\r\n\tTolerance : 55\r\n\tSMOOTH : 0\r\n\tFEZER : 0\r\n\tCONTRACT : 0\r\n"
    "\tFILLHOLES : False\r\n\tTEXTUREDBACK : False\r\n";

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class EditorPresetRowTest : public CEditorWindowTest {
 protected:
  EditorPresetRowTest() {
    char pattern[] = "/tmp/kelvane-presetrow-XXXXXX";
    m_folder = mkdtemp(pattern);
    showPresets = true;
    presetFolder = m_folder.string();
    CPresetState::Process().Clear();
  }
  ~EditorPresetRowTest() override {
    CPresetState::Process().Clear();
    fs::remove_all(m_folder);
  }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(m_folder / name, std::ios::binary) << text;
  }
  const fs::path& Folder() const { return m_folder; }

  QComboBox* List() const { return qobject_cast<QComboBox*>(Editor().GetDlgItem(IDC_PRESET_LIST)); }
  CPresetImageButton* ImageButton(int id) const {
    return dynamic_cast<CPresetImageButton*>(Editor().GetDlgItem(id));
  }
  QStringList Entries() const {
    QStringList entries;
    for (int i = 0; i < List()->count(); ++i) entries << List()->itemText(i);
    return entries;
  }
  int Strength() const {
    int value = -1;
    filter.m_paramSet.FindParam(keSlotStrength)->GetInt(value);
    return value;
  }

  // The user opens the list and clicks `entry`.
  void ChooseEntry(const QString& entry) {
    const int target = List()->findText(entry);
    ASSERT_GE(target, 0) << entry.toStdString();
    List()->showPopup();
    Settle();
    QAbstractItemView* popup = List()->view();
    const QRect item = popup->visualRect(popup->model()->index(target, 0));
    QTest::mouseClick(popup->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
    Settle();
  }

  // Answers the Save Style dialog once it is open: types `name`, then OK,
  // and, when the dialog is still open after that, Cancel.
  void WhenSaveStyleOpens(const QString& name) {
    QTimer::singleShot(0, [this, name] {
      auto* dialog = dynamic_cast<CSaveStyleDialog*>(QApplication::activeModalWidget());
      if (!dialog) return WhenSaveStyleOpens(name);
      savedTitle = dialog->windowTitle();
      auto* field = qobject_cast<QLineEdit*>(dialog->GetDlgItem(IDC_STYLE_NAME));
      ASSERT_NE(field, nullptr);
      QTest::keyClicks(field, name);
      QTest::mouseClick(qobject_cast<QAbstractButton*>(dialog->GetDlgItem(IDOK)), Qt::LeftButton);
      stayedOpen = dialog->isVisible();
      if (stayedOpen) {
        QTest::mouseClick(qobject_cast<QAbstractButton*>(dialog->GetDlgItem(IDCANCEL)),
                          Qt::LeftButton);
      }
    });
  }

  // Boxes are answered with their default button and remembered.
  CBoxRecorder boxes;
  QString savedTitle;
  bool stayedOpen = false;

 private:
  fs::path m_folder;
};

TEST_F(EditorPresetRowTest, TheRowListsDefaultAndEveryPresetFileWithImageButtons) {
  Write("Wide.preset", kWide);
  Write("Loud.PRESET", kWide);
  Write("notes.txt", "not a preset");
  fs::create_directory(Folder() / "Folder.preset");
  Run([&](CEditorDialog& editor) {
    ASSERT_NE(editor.GetDlgItem(IDC_PRESET_LABEL), nullptr);
    EXPECT_EQ(qobject_cast<QLabel*>(editor.GetDlgItem(IDC_PRESET_LABEL))->text(), "Presets:");
    ASSERT_NE(List(), nullptr);
    QStringList entries = Entries();
    ASSERT_FALSE(entries.isEmpty());
    EXPECT_EQ(entries.takeFirst(), "Default");
    entries.sort();
    EXPECT_EQ(entries, QStringList({"Loud", "Wide"}));
    EXPECT_EQ(List()->currentIndex(), -1);

    // The panel sits below the row, not where the row was, and the closed
    // list is no taller than the style makes it, so it covers nothing.
    EXPECT_GT(Panel().geometry().top(), List()->geometry().bottom());
    EXPECT_LE(List()->height(), List()->sizeHint().height());

    CPresetImageButton* save = ImageButton(IDC_PRESET_SAVE);
    CPresetImageButton* remove = ImageButton(IDC_PRESET_DELETE);
    ASSERT_NE(save, nullptr);
    ASSERT_NE(remove, nullptr);
    EXPECT_TRUE(save->HasPicture());
    EXPECT_TRUE(remove->HasPicture());
    // Nothing chosen yet: there is nothing to delete.
    EXPECT_TRUE(save->isEnabled());
    EXPECT_FALSE(remove->isEnabled());
    EXPECT_EQ(remove->BlendMode(), keBlendHslLightness);
    EXPECT_EQ(remove->BlendOpacity(), 100);
    EXPECT_EQ(save->BlendMode(), keBlendNormal);
    EXPECT_EQ(save->BlendOpacity(), 200);
    save->setDown(true);
    EXPECT_EQ(save->BlendMode(), keBlendMultiply);
    EXPECT_EQ(save->BlendOpacity(), 255);
    // A pressed face differs from an enabled one: the picture is drawn with it.
    const QImage pressed = save->grab().toImage();
    save->setDown(false);
    EXPECT_NE(save->grab().toImage(), pressed);
    editor.done(IDCANCEL);
  });
}

TEST_F(EditorPresetRowTest, ChoosingAPresetLoadsItAndRunsAtOnceAndDefaultGoesBack) {
  Write("Wide.preset", kWide);
  Run([&](CEditorDialog& editor) {
    MarkSky();
    const int before = Session().RunsFinished();
    ChooseEntry("Wide");
    ASSERT_TRUE(WaitUntil([&] { return Session().RunsFinished() > before && !Session().IsBusy(); }));
    Settle();
    EXPECT_EQ(Strength(), 55);
    EXPECT_EQ(CPresetState::Process().m_name, "Wide.preset");
    EXPECT_EQ(fs::path(CPresetState::Process().m_path), Folder() / "Wide.preset");
    EXPECT_EQ(List()->currentText(), "Wide");
    EXPECT_TRUE(ImageButton(IDC_PRESET_DELETE)->isEnabled());
    EXPECT_EQ(DisplayShown(), "Result");
    EXPECT_TRUE(OkEnabled());

    ChooseEntry("Default");
    ASSERT_TRUE(
        WaitUntil([&] { return Session().RunsFinished() > before + 1 && !Session().IsBusy(); }));
    Settle();
    EXPECT_EQ(Strength(), 30);
    EXPECT_TRUE(CPresetState::Process().m_path.empty());
    EXPECT_FALSE(ImageButton(IDC_PRESET_DELETE)->isEnabled());
    editor.done(IDCANCEL);
  });
}

TEST_F(EditorPresetRowTest, AFileThatCannotBeReadIsReportedAndTheListFilledAgain) {
  Write("Wide.preset", kWide);
  Run([&](CEditorDialog& editor) {
    fs::remove(Folder() / "Wide.preset");
    ChooseEntry("Wide");
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"Can't load the selected preset"});
    EXPECT_EQ(Entries(), QStringList{"Default"});
    EXPECT_EQ(Strength(), 30);
    EXPECT_FALSE(Session().IsBusy());
    editor.done(IDCANCEL);
  });
}

TEST_F(EditorPresetRowTest, SaveAsksForTheNameWritesTheFileAndSelectsIt) {
  Run([&](CEditorDialog& editor) {
    filter.m_paramSet.FindParam(keSlotStrength)->SetInt(55);
    filter.m_paramSet.FindParam(keSlotFeather)->SetInt(0);
    WhenSaveStyleOpens("  Wide  ");
    Click(ImageButton(IDC_PRESET_SAVE));
    EXPECT_EQ(savedTitle, "Save Style");
    EXPECT_FALSE(stayedOpen);
    EXPECT_EQ(ReadBytes(Folder() / "Wide.preset"), kWide);
    EXPECT_EQ(Entries(), QStringList({"Default", "Wide"}));
    EXPECT_EQ(List()->currentText(), "Wide");
    EXPECT_TRUE(ImageButton(IDC_PRESET_DELETE)->isEnabled());
    editor.done(IDCANCEL);
  });
}

TEST_F(EditorPresetRowTest, ANameThatLeavesTheFolderIsRefusedAndTheDialogStaysOpen) {
  Run([&](CEditorDialog& editor) {
    WhenSaveStyleOpens("../Outside");
    Click(ImageButton(IDC_PRESET_SAVE));
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(boxes.texts.size(), 1u);
    EXPECT_FALSE(fs::exists(Folder().parent_path() / "Outside.preset"));
    EXPECT_TRUE(fs::is_empty(Folder()));
    EXPECT_EQ(Entries(), QStringList{"Default"});
    editor.done(IDCANCEL);
  });
}

TEST_F(EditorPresetRowTest, DeleteRemovesTheCurrentPresetAfterTheQuestion) {
  Write("Wide.preset", kWide);
  Write("Keep.preset", kWide);
  Run([&](CEditorDialog& editor) {
    ChooseEntry("Wide");
    ASSERT_TRUE(WaitUntil([&] { return !Session().IsBusy(); }));
    Settle();
    boxes.texts.clear();
    Click(ImageButton(IDC_PRESET_DELETE));
    EXPECT_EQ(boxes.texts.size(), 1u);  // the shell's question, answered Yes
    EXPECT_FALSE(fs::exists(Folder() / "Wide.preset"));
    EXPECT_TRUE(fs::exists(Folder() / "Keep.preset"));
    EXPECT_EQ(Entries(), QStringList({"Default", "Keep"}));
    EXPECT_EQ(List()->currentIndex(), -1);
    EXPECT_TRUE(CPresetState::Process().m_path.empty());
    EXPECT_FALSE(ImageButton(IDC_PRESET_DELETE)->isEnabled());
    editor.done(IDCANCEL);
  });
}

TEST_F(EditorPresetRowTest, SwitchedOffTheRowIsGoneAndNoFileIsRead) {
  showPresets = false;
  Write("Wide.preset", kWide);
  Run([&](CEditorDialog& editor) {
    for (int id : {IDC_PRESET_LABEL, IDC_PRESET_LIST, IDC_PRESET_SAVE, IDC_PRESET_DELETE}) {
      EXPECT_EQ(editor.GetDlgItem(id), nullptr) << id;
    }
    EXPECT_EQ(editor.PresetRow(), nullptr);
    editor.done(IDCANCEL);
  });
}

}  // namespace
