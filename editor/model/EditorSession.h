// The editor's rules, without a display: the tools of the view, marking
// strokes, the manual brush, the parameter panel with its fields, check
// boxes and lists, the runs it starts and the messages they send back, and
// which control is enabled when. The widgets translate events into these
// calls, draw, and ask this state what to show; the session-script replay
// drives the same calls.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/model/Commands.h"
#include "editor/model/EditHistory.h"
#include "editor/model/MatteBrush.h"
#include "editor/model/NumericField.h"
#include "editor/model/ViewGeometry.h"
#include "engine/MatteDocument.h"
#include "engine/MatteParameters.h"
#include "imagecore/CoreImage.h"
#include "platform/Window.h"

class CMatteFilter;
class CSessionRecorder;

// What the session asks of the window around it. Every call has a default
// that does nothing, so a replay implements only what it needs.
class IEditorSessionListener {
 public:
  virtual ~IEditorSessionListener() = default;
  virtual void Repaint(bool /*erase*/) {}
  virtual void ShowStatus(int /*kind*/) {}  // keStatusToolHelp or keStatusInstructions
  virtual void FocusStrength() {}
  // The progress bar's position (0..100).
  virtual void ProgressChanged(int /*percent*/) {}
};

// The numeric field that shows the parameter in `slot` (-1 for a check
// box): the numeric parameters take the first fields, in the table's order.
constexpr int ParameterField(int slot) {
  int field = 0;
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.slot == slot) return row.control == keControlField ? field : -1;
    if (row.control == keControlField) ++field;
  }
  return -1;
}

// How many fields the numeric parameters take.
inline constexpr int kParameterFieldCount = [] {
  int count = 0;
  for (const CMatteParameter& row : kMatteParameters) count += row.control == keControlField;
  return count;
}();

// The panel's numeric fields: the parameters', then Brush Size.
enum keField : int {
  keFieldStrength = ParameterField(keSlotStrength),
  keFieldContract = ParameterField(keSlotContract),
  keFieldFeathering = ParameterField(keSlotFeather),
  keFieldSmoothing = ParameterField(keSlotSmoothing),
  keFieldEdgeWidth = ParameterField(keSlotEdgeWidth),
  keFieldBrushSize = kParameterFieldCount,
  keFieldCount,
};

// The parameter a field shows; null for Brush Size.
const CMatteParameter* FieldParameter(int field);

// Entries of the Display list.
enum : int {
  keDisplayOriginal = 0,
  keDisplayResult = 1,
};

struct CMatteColours {
  // Red, green, blue of the two checkerboard colours (equal: a solid matte).
  unsigned char a[3];
  unsigned char b[3];
};
// The Show Mat entries; an index outside the list gives "None".
CMatteColours MatteColoursFor(int index);
inline constexpr int kShowMatCount = 8;
const char* ShowMatName(int index);

// A mouse move of a marking stroke: whether it recorded a sample, and the
// line to draw on screen from the previous sample (none after a closing pair).
struct CMarkMove {
  bool recorded = false;
  bool drawLine = false;
  CMarkPoint from{};
  CMarkPoint to{};
};

class CEditorSession {
 public:
  // The document and the holder's image (what the view shows and what OK
  // hands back) belong to the caller and outlive the session.
  CEditorSession(CMatteFilter& filter, CMatteDocument& document, CCoreImage& displayed);
  ~CEditorSession();
  CEditorSession(const CEditorSession&) = delete;
  CEditorSession& operator=(const CEditorSession&) = delete;

  void SetListener(IEditorSessionListener* listener) { m_listener = listener; }
  // Told every step the user takes from now on; null: none.
  void SetRecorder(CSessionRecorder* recorder) { m_recorder = recorder; }
  CSessionRecorder* Recorder() const { return m_recorder; }

  // Opening the editor on the holder's image: the layer copy, the filter's
  // source and notification window, the document, the defaults of every
  // field and control. The window's messages come back through
  // HandleMessage.
  void Open(CMessageWindow& window);

  CMatteDocument& Document() { return m_doc; }
  CCoreImage& Displayed() { return m_displayed; }
  const CCoreImage& LayerCopy() const { return m_layerCopy; }

  // ---- Tools -----------------------------------------------------------

  // A tool button (ID_TOOL_ZOOM .. ID_TOOL_MANUAL); false when its button is
  // disabled and nothing happened.
  bool SelectTool(int id);
  int Tool() const { return m_tool; }
  bool IsToolChecked(int id) const { return id == m_tool; }
  bool IsToolEnabled(int id) const;
  // The update pass a window runs when it goes idle; every handler here
  // runs it too, so the state is always settled.
  void UpdateCommands();

  // ---- Marking (left button with a marking tool, Ctrl switching) ------

  // False when the current tool is not a marking tool.
  bool MarkPress(const CViewGeometry& view, CClientPoint point);
  CMarkMove MarkMove(const CViewGeometry& view, CClientPoint point);
  void MarkRelease();
  void CtrlDown(const CViewGeometry& view);
  void CtrlUp(const CViewGeometry& view);
  bool IsStrokeInProgress() const { return m_pressCount != m_releaseCount; }
  int PressCount() const { return m_pressCount; }
  int ReleaseCount() const { return m_releaseCount; }

  // False (nothing done) when the command is disabled.
  bool DeleteAllMarks();
  bool Reset();
  bool IsDeleteAllMarksEnabled() const;
  bool IsResetEnabled() const;

  // ---- Undo and redo -----------------------------------------------------

  // Neither while a run or a stroke is in progress. False (nothing done)
  // when disabled.
  bool Undo();
  bool Redo();
  bool IsUndoEnabled() const;
  bool IsRedoEnabled() const;
  const CEditHistory& History() const { return m_history; }

  // ---- Manual brush ------------------------------------------------------

  // Button down with the manual tool; right is the recover button. False
  // when ignored (another tool, or a run in progress).
  bool ManualPress(const CViewGeometry& view, CClientPoint pointer, bool right);
  void ManualMove(const CViewGeometry& view, CClientPoint pointer, bool leftHeld, bool rightHeld);
  void ManualRelease(bool right);
  void SetBrushSize(int size);
  int BrushSize() const { return m_brushSize; }
  // Present only while the manual tool is current.
  const CMatteBrush* Brush() const { return m_brush.get(); }
  bool IsManualAllowed() const { return m_manualAllowed; }
  bool IsBusy() const { return m_busy; }
  int Modified() const { return m_modified; }

  // ---- Panel -------------------------------------------------------------

  const CNumericField& Field(keField field) const { return m_fields[field]; }
  // The user types `text` into the field (its text changes).
  void TypeIntoField(keField field, std::string text);
  // The user leaves the field: a value outside the limits is rewritten.
  void LeaveField(keField field);

  // The check box of the parameter in `slot`.
  bool IsChecked(int slot) const { return m_checked[slot]; }
  // Whether the control (and label) of the parameter in `slot` is enabled:
  // a parameter that depends on a check box only while it is checked.
  bool IsParameterEnabled(int slot) const;
  void ClickCheckBox(int slot);
  bool SmoothBrush() const { return m_smoothBrush; }
  void ClickSmoothBrush();

  // Apply/Abort. False when the button is disabled.
  bool PressApply();
  bool PressDefault();
  const char* ApplyLabel() const { return m_applyLabelAbort ? "Abort" : "Apply"; }

  // Choosing an entry runs its handler even when it is already selected.
  bool ChooseDisplay(int index);
  int DisplaySelection() const { return m_display; }
  bool ChooseShowMat(int index);
  int ShowMatSelection() const { return m_showMat; }

  bool IsApplyEnabled() const { return m_applyEnabled; }
  bool IsDefaultEnabled() const { return m_defaultEnabled; }
  // OK is never available while a run is in progress.
  bool IsOkEnabled() const { return m_okEnabled && !m_busy; }
  bool IsDisplayEnabled() const { return m_listsEnabled; }
  bool IsShowMatEnabled() const { return m_listsEnabled; }
  // Brush Size, its label and Smooth Brush.
  bool IsBrushSettingsEnabled() const { return m_tool == ID_TOOL_MANUAL; }

  // ---- Runs --------------------------------------------------------------

  // The worker's messages, handled on the editor's thread; false for a
  // message that is not one of them.
  bool HandleMessage(const CWindowMessage& message);
  // Drops progress not yet shown and puts the bar back to 0.
  void ResetProgress();
  int ProgressPosition() const { return m_progress; }
  // Runs whose result was taken over since the editor opened.
  int RunsFinished() const { return m_runsFinished; }

  // OK: false while disabled. Cancel: true when the editor closes, false
  // when it only aborted a run.
  bool PressOk();
  bool PressCancel();

  // The panel's handlers for the two ends of a run.
  void OnProcessingFinished();
  void OnProcessingAborted();

  // A run started by something other than Apply (a preset chosen): it uses
  // the parameter set as it stands, not the panel's fields. Until it ends
  // the editor is as busy as after Apply.
  void RequestRun();
  CMatteFilter& Filter() { return m_filter; }

 private:
  bool IsMarkingTool() const {
    return m_tool == ID_TOOL_MARK_BACKGROUND || m_tool == ID_TOOL_MARK_OBJECT;
  }
  void ChooseTool(int id);
  void CreateBrush();
  void Sample(bool object, CMarkPoint pixel);
  void UpdateDefaultEnabled();
  bool FieldsAtDefaults();
  // What the panel holds for a parameter: its field read, or its check box.
  int PanelValue(const CMatteParameter& parameter);
  void StoreFieldsIntoSlots();
  void RunNow();
  void OnRunProgress(const CWindowMessage& message);
  void OnRunDone(const CWindowMessage& message);
  void OnRunFailed(const CWindowMessage& message);
  void Repaint(bool erase);
  void Status(int kind);
  CEditorState CurrentState() const;
  // The state before a step the user begins now.
  void RecordStep();
  void GoTo(const CEditorState& state);
  // A run is about to start: what it changes, as it is now.
  void RememberRunStart();

  CMatteFilter& m_filter;
  CMatteDocument& m_doc;
  CCoreImage& m_displayed;
  CCoreImage m_layerCopy;
  IEditorSessionListener* m_listener = nullptr;
  CSessionRecorder* m_recorder = nullptr;
  CMessageWindow* m_window = nullptr;

  // The view.
  int m_tool = 0;
  int m_savedTool = 0;
  bool m_ctrlDown = false;
  bool m_manualAllowed = true;
  bool m_busy = false;
  int m_modified = 0;
  int m_pressCount = 0;
  int m_releaseCount = 0;
  CClientPoint m_lastMarkPoint;
  int m_brushSize = 50;
  std::unique_ptr<CMatteBrush> m_brush;

  // The panel.
  std::vector<CNumericField> m_fields;                 // by keField
  std::array<bool, kMatteParameterCount> m_checked{};  // by slot
  bool m_smoothBrush = false;
  int m_display = keDisplayOriginal;
  int m_showMat = 0;
  bool m_applyEnabled = false;
  bool m_applyLabelAbort = false;
  bool m_defaultEnabled = false;
  bool m_okEnabled = false;
  bool m_listsEnabled = false;

  int m_progress = 0;
  int m_runsFinished = 0;

  CEditHistory m_history;
  // The state when the run in progress started; it becomes a step when the
  // run completes.
  std::optional<CEditorState> m_runStart;
};
