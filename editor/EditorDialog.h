// The editor window: the image view with its tool bar at the left, the
// parameter panel at the right, the zoom read-out, progress bar and status
// line along the bottom, OK, Cancel and Help. It owns the document and the
// editor session that holds every rule; the widgets show its state.
#pragma once

#include <QLabel>
#include <QSizeGrip>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "editor/model/EditorSession.h"
#include "editor/model/PresetRow.h"
#include "editor/model/SessionRecorder.h"
#include "framework/dialogs/ProcessDialog.h"

class CMatteFilter;
class CParamPanel;

enum : int {
  kEditorTemplateId = 101,
  kEditorAcceleratorId = 3001,
  kEditorTitleId = 57346,
  kEditorToolBarId = 128,
  IDC_VIEW = 3002,
  IDC_TOOLBAR_PLACE = 3003,
  IDC_PROGRESS = 3013,
  IDC_ZOOM_READOUT = 1001,
  IDC_STATUS = 1002,
  IDC_PANEL_PLACE = 1005,
  IDC_PRESET_LIST = 1006,
  IDC_PRESET_SAVE = 1007,
  IDC_PRESET_DELETE = 1008,
  IDC_PRESET_LABEL = 1009,
  IDC_HELP = 32651,
  // PNG pictures of the preset row's buttons.
  kSavePresetPictureId = 103,
  kDeletePresetPictureId = 102,
};

// The status line's two kinds of text.
extern const char* const kInstructionsText;
// The help of a tool, or null for a tool without one.
const char* ToolStatusText(int tool);

// What a view the editor can host offers beyond the dialog's needs.
class IEditorView : public IDialogView {
 public:
  // The view shows the session's displayed image, hears from the session
  // first and passes what it hears on to `forward`; null detaches it.
  virtual void SetSession(CEditorSession* session, IEditorSessionListener* forward) = 0;
  // The zoom at which the whole image fits, without an anchor.
  virtual void ZoomToFit() = 0;
};

class CEditorDialog : public CProcessDialog,
                      private IEditorSessionListener,
                      private IPresetRowListener {
 public:
  // `displayed` is the holder's image: the layer on opening, the result on
  // OK. The view comes from `makeView` (the tool view in the program).
  CEditorDialog(CCoreImage& displayed, CParamPanel& panel, CMatteFilter& filter,
                std::function<IEditorView*()> makeView);
  ~CEditorDialog() override;

  void SetMinimumSize(int width, int height);
  void SetShowPresets(bool show) { m_showPresets = show; }
  // Where the preset row keeps its files; the folder beside the module
  // unless set before the window opens.
  void SetPresetFolder(std::string folder) { m_presetFolder = std::move(folder); }
  CEditorSession& Session() { return m_session; }
  // Records the session from the window's opening on; before it opens.
  void SetRecording(bool record) { m_record = record; }
  // What was recorded, or null when nothing is.
  const CSessionRecorder* Recorder() const { return m_recorder.get(); }
  // Null while the preset row is switched off.
  CPresetRow* PresetRow() const { return m_presetRow.get(); }
  IEditorView* EditorView() const { return m_editorView; }
  QString StatusText() const;
  // The width in pixels of the status line's longest text.
  int WidestStatusText() const;
  QString ZoomReadout() const;
  // The help page beside the module, or empty when the module is unknown.
  static QString HelpPagePath();
  // The page Help opens; the one beside the module unless set.
  void SetHelpPage(QString page) { m_helpPage = std::move(page); }

  void OnZoomChanged(double newZoom, double oldZoom) override;
  void OnRunFinished() override;
  void OnRunFailed() override;

 protected:
  bool OnInitDialog() override;
  void OnCommand(int id) override;
  void OnCancel() override;
  void OnOK() override;
  void OnRunMessage(const CWindowMessage& message) override;
  void OnUpdateCommands() override;
  void resizeEvent(QResizeEvent* event) override;
  // Ctrl typed in the panel goes to the view wherever the pointer is.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Repaint(bool erase) override;
  void ShowStatus(int kind) override;
  void OnStatusTip(const QString& text) override;
  // Ctrl+Z undoes; Ctrl+Shift+Z and Ctrl+Y redo.
  void AddUndoKeys();
  void FocusStrength() override;
  void ProgressChanged(int percent) override;
  // The preset row: image buttons, the list and its choices.
  void SetUpPresetRow();
  void PresetListChanged() override;
  void OnPresetChosen(int index);
  // Help: the page in a browser, or a message box naming it when no browser
  // could be started.
  void OpenHelp();
  void ShowHelpFailure(const QString& page);
  void ShowHelpProblem(const std::string& text);

  CParamPanel& m_panel;
  CMatteFilter& m_filter;
  CMatteDocument m_document;
  CEditorSession m_session;
  std::function<IEditorView*()> m_makeView;
  IEditorView* m_editorView = nullptr;
  QSizeGrip* m_sizeGrip = nullptr;
  bool m_showPresets = true;
  int m_statusKind = keStatusInstructions;  // what the status line shows apart from tips
  std::unique_ptr<CPresetRow> m_presetRow;
  bool m_record = false;
  std::unique_ptr<CSessionRecorder> m_recorder;
  std::string m_presetFolder;
  QString m_helpPage;
  int m_minimumWidth = 0;
  int m_minimumHeight = 0;
  QSize m_initialClient;
  std::map<int, QRect> m_controlRects;
  bool m_laidOut = false;
};
