#include "editor/model/EditorSession.h"

#include <mutex>

#include "editor/model/SessionRecorder.h"
#include "engine/MatteFilter.h"
#include "framework/FilterBase.h"
#include "framework/Param.h"

namespace {

// Brush Size is the panel's own setting, not a parameter of the filter.
constexpr int kBrushSizeMinimum = 5;
constexpr int kBrushSizeMaximum = 300;
constexpr int kBrushSizeInitial = 50;

std::vector<CNumericField> InitialFields() {
  std::vector<CNumericField> fields;
  for (int f = 0; f < keFieldCount; ++f) {
    if (const CMatteParameter* shown = FieldParameter(f)) {
      fields.emplace_back(shown->minimum, shown->maximum, shown->defaultValue);
    } else {
      fields.emplace_back(kBrushSizeMinimum, kBrushSizeMaximum, kBrushSizeInitial);
    }
  }
  return fields;
}

std::array<bool, kMatteParameterCount> InitialChecks() {
  std::array<bool, kMatteParameterCount> checked{};
  for (const CMatteParameter& row : kMatteParameters) {
    checked[row.slot] = row.control == keControlCheckBox && row.defaultValue != 0;
  }
  return checked;
}

constexpr CMatteColours kMattes[kShowMatCount] = {
    {{255, 255, 255}, {208, 205, 195}}, {{0, 0, 0}, {0, 0, 0}},
    {{192, 192, 192}, {192, 192, 192}}, {{255, 255, 255}, {255, 255, 255}},
    {{255, 0, 0}, {255, 0, 0}},         {{0, 255, 0}, {0, 255, 0}},
    {{0, 0, 255}, {0, 0, 255}},         {{90, 160, 140}, {90, 160, 140}},
};

constexpr const char* kMatteNames[kShowMatCount] = {
    "None",      "Black Matte", "Gray Matte",  "White Matte",
    "Red Matte", "Green Matte", "Blue Matte",  "Stand Matte",
};

}  // namespace

const CMatteParameter* FieldParameter(int field) {
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.control == keControlField && ParameterField(row.slot) == field) return &row;
  }
  return nullptr;
}

CMatteColours MatteColoursFor(int index) {
  return index >= 0 && index < kShowMatCount ? kMattes[index] : kMattes[0];
}

const char* ShowMatName(int index) {
  return index >= 0 && index < kShowMatCount ? kMatteNames[index] : kMatteNames[0];
}

CEditorSession::CEditorSession(CMatteFilter& filter, CMatteDocument& document,
                               CCoreImage& displayed)
    : m_filter(filter),
      m_doc(document),
      m_displayed(displayed),
      m_fields(InitialFields()),
      m_checked(InitialChecks()) {}

CEditorSession::~CEditorSession() {
  // The run works on the document, which may go right after the session.
  if (m_filter.m_view == &m_doc) {
    m_filter.AbortRun();
    m_filter.m_view = nullptr;
  }
  if (m_window && m_filter.m_args.window == m_window) m_filter.SetNotifyWindow(nullptr);
}

void CEditorSession::Repaint(bool erase) {
  if (m_listener) m_listener->Repaint(erase);
}

void CEditorSession::Status(int kind) {
  if (m_listener) m_listener->ShowStatus(kind);
}

// ---- Opening ----------------------------------------------------------------

void CEditorSession::Open(CMessageWindow& window) {
  m_window = &window;
  ThrowIfFailed(m_layerCopy.CopyFrom(m_displayed));
  m_filter.SetNotifyWindow(&window);
  m_filter.m_source.AssignFrom(m_layerCopy);
  m_filter.m_view = &m_doc;
  m_doc.Open(m_layerCopy, &m_displayed);

  m_tool = 0;
  m_savedTool = 0;
  m_ctrlDown = false;
  m_manualAllowed = true;
  m_busy = false;
  m_modified = 0;
  m_pressCount = 0;
  m_releaseCount = 0;
  m_lastMarkPoint = {};
  m_brush.reset();

  m_fields = InitialFields();
  // The panel's Brush Size replaces the view's initial diameter of 10.
  m_brushSize = kBrushSizeInitial;
  m_smoothBrush = false;
  m_checked = InitialChecks();
  // Whatever the store held, every opening starts from the defaults.
  StoreFieldsIntoSlots();

  m_display = keDisplayOriginal;
  m_showMat = 0;
  m_listsEnabled = false;
  m_okEnabled = false;
  m_applyEnabled = false;
  m_applyLabelAbort = false;
  m_defaultEnabled = false;
  m_progress = 0;
  m_runsFinished = 0;
  m_history.Open(m_layerCopy);
  m_runStart.reset();
  Status(keStatusInstructions);
}

// ---- Tools ------------------------------------------------------------------

bool CEditorSession::IsToolEnabled(int id) const {
  if (id == ID_TOOL_MANUAL) return m_manualAllowed && !m_busy;
  return id >= ID_TOOL_ZOOM && id <= ID_TOOL_MARK_OBJECT;
}

void CEditorSession::ChooseTool(int id) {
  m_tool = id;
  if (id == ID_TOOL_MANUAL && !m_brush) CreateBrush();
  Status(keStatusToolHelp);
  if (id == ID_TOOL_MARK_BACKGROUND || id == ID_TOOL_MARK_OBJECT) {
    if (m_listener) m_listener->FocusStrength();
  }
}

bool CEditorSession::SelectTool(int id) {
  if (!IsToolEnabled(id)) return false;
  ChooseTool(id);
  UpdateCommands();
  return true;
}

void CEditorSession::UpdateCommands() {
  if (m_tool != ID_TOOL_MANUAL) {
    m_brush.reset();
  } else if (!m_manualAllowed) {
    ChooseTool(ID_TOOL_MARK_BACKGROUND);
    m_brush.reset();
  }
}

void CEditorSession::CreateBrush() {
  m_brush = std::make_unique<CMatteBrush>();
  m_brush->Setup(m_brushSize, m_smoothBrush);
}

// ---- Marking ----------------------------------------------------------------

namespace {

// The pixel a dab is centred on: at zoom 1 a pointer there gives `origin`
// back, which is how a script's erase and recover points are placed.
CMarkPoint DabCentre(CMarkPoint origin, int diameter) {
  return {origin.x + diameter / 2, origin.y + diameter / 2};
}

}  // namespace

void CEditorSession::Sample(bool object, CMarkPoint pixel) {
  m_doc.EnsureMarks();
  m_doc.MarkPoint(object, pixel.x, pixel.y);
  if (m_recorder) m_recorder->StrokeSample(pixel);
}

void CEditorSession::RecordStep() {
  m_history.Record(CurrentState());
  if (m_recorder) m_recorder->StepBegun();
}

bool CEditorSession::MarkPress(const CViewGeometry& view, CClientPoint point) {
  if (!IsMarkingTool()) return false;
  const bool object = m_tool == ID_TOOL_MARK_OBJECT;
  RecordStep();
  if (m_recorder) m_recorder->StrokeBegun(object);
  m_lastMarkPoint = point;
  ++m_pressCount;
  {
    const auto held = m_doc.Hold();
    m_doc.BeginMarkStroke(object);  // creates the marks, sets the combination mode
    m_doc.CloseStroke(object);
  }
  Sample(object, ClientToMarkPixel(view, point));
  m_applyEnabled = true;
  UpdateCommands();
  return true;
}

CMarkMove CEditorSession::MarkMove(const CViewGeometry& view, CClientPoint point) {
  CMarkMove move;
  if (!IsMarkingTool()) return move;
  const bool object = m_tool == ID_TOOL_MARK_OBJECT;
  m_doc.EnsureMarks();
  m_lastMarkPoint = point;
  const auto held = m_doc.Hold();
  const std::vector<CMarkPoint>& points = m_doc.Points(object);
  // After Delete All Marks in the middle of a drag the list is empty and
  // the rest of the drag records nothing.
  if (points.empty()) return move;
  const CMarkPoint last = points.back();
  const CMarkPoint pixel = ClientToMarkPixel(view, point);
  move.recorded = true;
  move.drawLine = last.x >= 0;
  move.from = last;
  move.to = pixel;
  m_doc.MarkPoint(object, pixel.x, pixel.y);
  if (m_recorder) m_recorder->StrokeSample(pixel);
  return move;
}

void CEditorSession::MarkRelease() {
  if (!IsMarkingTool()) return;
  ++m_releaseCount;
  m_doc.EndMarkStroke(m_tool == ID_TOOL_MARK_OBJECT);
  if (m_recorder) m_recorder->StrokeEnded();
  m_history.Compact();
  UpdateCommands();
}

void CEditorSession::CtrlDown(const CViewGeometry& view) {
  if (m_ctrlDown || !IsMarkingTool()) return;
  m_savedTool = m_tool;
  const bool toObject = m_tool == ID_TOOL_MARK_BACKGROUND;
  if (IsStrokeInProgress()) {
    // The stroke of the old kind ends; the drag goes on as a stroke of the
    // other kind from the latest pointer position.
    const auto held = m_doc.Hold();
    m_doc.CloseStroke(!toObject);
    m_doc.CommitBase();
    ++m_releaseCount;
    m_doc.CloseStroke(toObject);
    if (m_recorder) m_recorder->StrokeBegun(toObject);
    Sample(toObject, ClientToMarkPixel(view, m_lastMarkPoint));
    ++m_pressCount;
  }
  ChooseTool(toObject ? ID_TOOL_MARK_OBJECT : ID_TOOL_MARK_BACKGROUND);
  m_ctrlDown = true;
  UpdateCommands();
}

void CEditorSession::CtrlUp(const CViewGeometry& view) {
  // A key-up whose key-down went elsewhere (the pointer was off the view)
  // does not switch: the saved tool belongs to an older switch. And the
  // switch ends whatever the current tool is, so a later Ctrl works again.
  const bool wasDown = m_ctrlDown;
  m_ctrlDown = false;
  if (!wasDown || !IsMarkingTool()) return;
  m_tool = m_savedTool;
  const bool toBackground = m_savedTool == ID_TOOL_MARK_BACKGROUND;
  if (IsStrokeInProgress()) {
    const auto held = m_doc.Hold();
    if (toBackground) {
      m_doc.CloseStroke(true);
      ++m_releaseCount;
      m_doc.CommitBase();
      m_doc.CloseStroke(false);
      if (m_recorder) m_recorder->StrokeBegun(false);
      Sample(false, ClientToMarkPixel(view, m_lastMarkPoint));
    } else {
      m_doc.CloseStroke(false);
      m_doc.CommitBase();
      ++m_releaseCount;
      m_doc.CloseStroke(true);
      if (m_recorder) m_recorder->StrokeBegun(true);
      // Back to an object stroke the point is recorded but not marked.
      m_doc.RecordObjectPoint(ClientToMarkPixel(view, m_lastMarkPoint));
    }
    ++m_pressCount;
  }
  ChooseTool(toBackground ? ID_TOOL_MARK_BACKGROUND : ID_TOOL_MARK_OBJECT);
  UpdateCommands();
}

bool CEditorSession::IsDeleteAllMarksEnabled() const { return m_doc.HasMarks() && !m_busy; }

bool CEditorSession::IsResetEnabled() const { return !m_busy && m_modified != 0; }

bool CEditorSession::DeleteAllMarks() {
  if (!IsDeleteAllMarksEnabled()) return false;
  RecordStep();
  m_releaseCount = 0;
  m_pressCount = 0;
  m_doc.DeleteAllMarks();
  m_history.Compact();
  if (m_recorder) m_recorder->DeleteAllMarks();
  Status(keStatusInstructions);
  if (m_modified == 0) m_applyEnabled = false;
  Repaint(true);
  UpdateCommands();
  return true;
}

bool CEditorSession::Reset() {
  if (!IsResetEnabled()) return false;
  RecordStep();
  m_modified = 0;
  m_releaseCount = 0;
  m_pressCount = 0;
  m_manualAllowed = true;
  m_doc.Reset();
  m_history.Compact();
  if (m_recorder) m_recorder->Reset();
  Repaint(true);
  m_display = keDisplayOriginal;
  m_listsEnabled = false;
  m_applyEnabled = false;
  m_okEnabled = false;
  if (m_listener) m_listener->FocusStrength();
  Status(keStatusInstructions);
  UpdateCommands();
  return true;
}

// ---- Undo and redo ----------------------------------------------------------

CEditorState CEditorSession::CurrentState() const {
  CEditorState state;
  state.document = m_doc.SaveState();
  CEditorControls& c = state.controls;
  c.display = m_display;
  c.listsEnabled = m_listsEnabled;
  // A run in progress has only put OK aside until it ends.
  c.okEnabled = m_runStart ? m_runStart->controls.okEnabled : m_okEnabled;
  c.applyEnabled = m_applyEnabled;
  c.manualAllowed = m_manualAllowed;
  c.modified = m_modified;
  c.pressCount = m_pressCount;
  c.releaseCount = m_releaseCount;
  return state;
}

void CEditorSession::RememberRunStart() {
  if (!m_runStart) m_runStart = CurrentState();
}

void CEditorSession::GoTo(const CEditorState& state) {
  m_doc.RestoreState(state.document);
  const CEditorControls& c = state.controls;
  m_display = c.display;
  m_listsEnabled = c.listsEnabled;
  m_okEnabled = c.okEnabled;
  m_applyEnabled = c.applyEnabled;
  m_manualAllowed = c.manualAllowed;
  m_modified = c.modified;
  m_pressCount = c.pressCount;
  m_releaseCount = c.releaseCount;
  Repaint(true);
  UpdateCommands();
}

bool CEditorSession::IsUndoEnabled() const {
  return !m_busy && !IsStrokeInProgress() && m_history.CanUndo();
}

bool CEditorSession::IsRedoEnabled() const {
  return !m_busy && !IsStrokeInProgress() && m_history.CanRedo();
}

bool CEditorSession::Undo() {
  if (!IsUndoEnabled()) return false;
  GoTo(m_history.Undo(CurrentState()));
  m_history.Compact();
  if (m_recorder) m_recorder->Undone();
  return true;
}

bool CEditorSession::Redo() {
  if (!IsRedoEnabled()) return false;
  GoTo(m_history.Redo(CurrentState()));
  m_history.Compact();
  if (m_recorder) m_recorder->Redone();
  return true;
}

// ---- Manual brush -----------------------------------------------------------

void CEditorSession::SetBrushSize(int size) {
  m_brushSize = size;
  if (m_brush && m_tool == ID_TOOL_MANUAL) CreateBrush();
}

bool CEditorSession::ManualPress(const CViewGeometry& view, CClientPoint pointer, bool right) {
  if (m_tool != ID_TOOL_MANUAL || m_busy || !m_brush) return false;
  const CMarkPoint origin = DabOrigin(view, pointer, m_brush->Diameter());
  RecordStep();
  if (m_recorder) {
    m_recorder->ManualBegun(right, m_brushSize, m_smoothBrush);
    m_recorder->ManualDab(DabCentre(origin, m_brush->Diameter()));
  }
  m_doc.EditWork([&](CCoreImage& work, CCoreImage& original, CCoreImage& result) {
    // The brush draws on the displayed image in place; storage it shares
    // with the document's result or with the history is copied first.
    ThrowIfFailed(m_displayed.OwnStorage());
    if (right) {
      m_brush->Recover(work, original, origin.x, origin.y);
      m_brush->Recover(m_displayed, original, origin.x, origin.y);
    } else {
      m_brush->Erase(work, origin.x, origin.y);
      m_brush->Erase(m_displayed, origin.x, origin.y);
    }
    ThrowIfFailed(result.CopyFrom(m_displayed));
  });
  return true;
}

void CEditorSession::ManualMove(const CViewGeometry& view, CClientPoint pointer, bool leftHeld,
                                bool rightHeld) {
  if (m_tool != ID_TOOL_MANUAL || m_busy || !m_brush) return;
  const CMarkPoint origin = DabOrigin(view, pointer, m_brush->Diameter());
  // A move with both buttons held both erases and recovers, which no
  // script line says; the stroke's own button is what is written.
  if (m_recorder && (leftHeld || rightHeld)) {
    m_recorder->ManualDab(DabCentre(origin, m_brush->Diameter()));
  }
  m_doc.EditWork([&](CCoreImage& work, CCoreImage& original, CCoreImage&) {
    ThrowIfFailed(m_displayed.OwnStorage());
    if (leftHeld) {
      m_brush->Erase(m_displayed, origin.x, origin.y);
      m_brush->Erase(work, origin.x, origin.y);
    }
    if (rightHeld) {
      m_brush->Recover(m_displayed, original, origin.x, origin.y);
      m_brush->Recover(work, original, origin.x, origin.y);
    }
  });
}

void CEditorSession::ManualRelease(bool right) {
  if (m_tool != ID_TOOL_MANUAL || m_busy) return;
  m_doc.EndManualStroke(right);
  if (m_recorder) m_recorder->ManualEnded();
  m_history.Compact();
  Repaint(false);
  if (!right) {
    // The erased image is what OK would hand back, so it is shown as the
    // result; the selection's handler does not run.
    m_display = keDisplayResult;
    m_listsEnabled = true;
    m_okEnabled = true;
  }
  m_modified = 1;
  m_applyEnabled = true;
  UpdateCommands();
}

// ---- Panel ------------------------------------------------------------------

void CEditorSession::TypeIntoField(keField field, std::string text) {
  m_fields[field].SetText(std::move(text));
  if (field == keFieldBrushSize) {
    SetBrushSize(m_fields[field].GetInt());
  } else {
    UpdateDefaultEnabled();
  }
  UpdateCommands();
}

void CEditorSession::LeaveField(keField field) {
  if (m_fields[field].OnLeave()) {
    // The rewritten text is a change of its own, as typing is.
    if (field == keFieldBrushSize) {
      SetBrushSize(m_fields[field].GetInt());
    } else {
      UpdateDefaultEnabled();
    }
  }
  UpdateCommands();
}

void CEditorSession::UpdateDefaultEnabled() { m_defaultEnabled = !FieldsAtDefaults(); }

bool CEditorSession::FieldsAtDefaults() {
  // Reading a field stores its value, so the fields after the first that
  // differs are left unread.
  for (int f = 0; f < kParameterFieldCount; ++f) {
    if (m_fields[f].GetInt() != FieldParameter(f)->defaultValue) return false;
  }
  return true;
}

void CEditorSession::ClickCheckBox(int slot) {
  m_checked[slot] = !m_checked[slot];
  // Textured Background also decides how the next run combines with the last.
  if (slot == keSlotTextured) m_doc.OnTexturedClicked(m_checked[slot]);
  if (m_recorder) m_recorder->CheckBoxClicked(slot, m_checked[slot]);
}

bool CEditorSession::IsParameterEnabled(int slot) const {
  const CMatteParameter* parameter = FindMatteParameter(slot);
  if (!parameter || parameter->enabledWhenSlot == keAlwaysEnabled) return parameter != nullptr;
  return m_checked[parameter->enabledWhenSlot];
}

void CEditorSession::ClickSmoothBrush() {
  m_smoothBrush = !m_smoothBrush;
  SetBrushSize(m_brushSize);
}

int CEditorSession::PanelValue(const CMatteParameter& parameter) {
  if (parameter.control == keControlCheckBox) return m_checked[parameter.slot] ? 1 : 0;
  return m_fields[ParameterField(parameter.slot)].GetInt();
}

void CEditorSession::StoreFieldsIntoSlots() {
  for (const CMatteParameter& row : kMatteParameters) {
    m_filter.m_paramSet.FindParam(row.slot)->SetInt(PanelValue(row));
  }
}

bool CEditorSession::PressDefault() {
  if (!m_defaultEnabled) return false;
  // The numeric fields only: the check boxes and Brush Size stay.
  for (int f = 0; f < kParameterFieldCount; ++f) {
    const CMatteParameter& shown = *FieldParameter(f);
    m_fields[f].SetValue(shown.defaultValue);
    m_filter.m_paramSet.FindParam(shown.slot)->SetInt(shown.defaultValue);
  }
  UpdateDefaultEnabled();
  if (m_listener) m_listener->FocusStrength();
  return true;
}

bool CEditorSession::PressApply() {
  if (!m_applyEnabled) return false;
  if (!m_filter.IsRunning()) RememberRunStart();
  m_busy = true;
  m_okEnabled = false;
  StoreFieldsIntoSlots();
  if (m_filter.IsRunning()) {
    m_filter.AbortRun();
    ResetProgress();
    m_applyLabelAbort = false;
  } else {
    if (m_recorder) {
      m_recorder->ApplyPressed([this](int slot) {
        int value = 0;
        m_filter.m_paramSet.FindParam(slot)->GetInt(value);
        return value;
      });
    }
    RunNow();
    m_applyLabelAbort = true;
  }
  UpdateCommands();
  return true;
}

void CEditorSession::RequestRun() {
  // Whoever starts a run, the view must not edit what the worker reads and
  // OK must not hand back a result that is about to change; the button
  // offers what pressing it does.
  RememberRunStart();
  m_busy = true;
  m_okEnabled = false;
  RunNow();
  m_applyLabelAbort = true;
  UpdateCommands();
}

bool CEditorSession::ChooseDisplay(int index) {
  if (!m_listsEnabled || (index != keDisplayOriginal && index != keDisplayResult)) return false;
  m_display = index;
  if (index == keDisplayOriginal) {
    m_doc.CopyOriginalTo(m_displayed);
    m_manualAllowed = false;
    m_okEnabled = false;
  } else {
    m_manualAllowed = true;
    m_doc.CopyResultTo(m_displayed);
    m_okEnabled = true;
  }
  if (m_recorder) m_recorder->DisplayChosen(index == keDisplayResult);
  Repaint(true);
  UpdateCommands();
  return true;
}

bool CEditorSession::ChooseShowMat(int index) {
  if (!m_listsEnabled) return false;
  m_showMat = index >= 0 && index < kShowMatCount ? index : 0;
  Repaint(true);
  return true;
}

// ---- Runs -------------------------------------------------------------------

void CEditorSession::RunNow() {
  m_filter.AbortRun();
  try {
    CoreResult started = m_filter.StartRun();
    ThrowIfFailed(std::move(started));
  } catch (...) {
    // Nothing runs, so nothing would end the run: the panel goes back to
    // Apply before the failure goes on to the caller.
    OnProcessingAborted();
    if (m_recorder) m_recorder->RunEnded(false, false);
    throw;
  }
}

bool CEditorSession::HandleMessage(const CWindowMessage& message) {
  switch (message.message) {
    case WM_RUN_PROGRESS:
      OnRunProgress(message);
      return true;
    case WM_RUN_DONE:
      OnRunDone(message);
      return true;
    case WM_RUN_FAILED:
      OnRunFailed(message);
      return true;
    default:
      return false;
  }
}

void CEditorSession::OnRunProgress(const CWindowMessage& message) {
  // Only the newest value counts; a backlog is dropped unseen.
  CWindowMessage newest = message;
  if (m_window) m_window->RemoveMessages(WM_RUN_PROGRESS, &newest);
  m_progress = static_cast<int>(newest.lParam);
  if (m_listener) m_listener->ProgressChanged(m_progress);
}

void CEditorSession::ResetProgress() {
  if (m_window) m_window->RemoveMessages(WM_RUN_PROGRESS);
  m_progress = 0;
  if (m_listener) m_listener->ProgressChanged(0);
}

void CEditorSession::OnRunDone(const CWindowMessage& message) {
  // The end of an earlier run must not take over a later run's result.
  if (!m_filter.IsCurrentRunMessage(message)) return;
  std::optional<CEditorState> start = std::move(m_runStart);
  m_runStart.reset();
  // A run refused as too small for the layer shows the layer unchanged:
  // nothing to step back over.
  const bool isStep = start.has_value() && m_filter.LastExitCode() != keProcessTooSmall;
  // Strokes drawn while the run worked are steps of their own: the run's
  // step goes back to the marks as they are now, and to what the run
  // replaced as it was when the run started.
  CEditorState before = CurrentState();
  if (start) {
    CDocumentState& doc = before.document;
    const CDocumentState& old = start->document;
    doc.work = old.work;
    doc.prevMatte = old.prevMatte;
    doc.prevStrength = old.prevStrength;
    doc.resultImage = old.resultImage;
    doc.displayed = old.displayed;
    doc.applied = old.applied;
    const CEditorControls marking = before.controls;
    before.controls = start->controls;
    before.controls.pressCount = marking.pressCount;
    before.controls.releaseCount = marking.releaseCount;
    before.controls.applyEnabled = marking.applyEnabled;
    start.reset();
  }
  m_displayed.Reset();
  m_displayed.TakeFrom(m_filter.m_result);
  Repaint(true);
  ResetProgress();
  OnProcessingFinished();
  if (isStep) {
    m_history.Record(std::move(before));
    m_history.Compact();  // what the run replaced is the history's alone now
  }
  if (m_recorder) m_recorder->RunEnded(true, isStep);
}

void CEditorSession::OnRunFailed(const CWindowMessage& message) {
  if (!m_filter.IsCurrentRunMessage(message)) return;
  m_runStart.reset();
  ResetProgress();
  OnProcessingAborted();
  if (m_recorder) m_recorder->RunEnded(false, false);
}

void CEditorSession::OnProcessingFinished() {
  m_applyLabelAbort = false;
  m_listsEnabled = true;
  m_display = keDisplayResult;
  m_okEnabled = true;
  m_manualAllowed = true;
  m_busy = false;
  m_modified += 1;
  ++m_runsFinished;
  UpdateCommands();
}

void CEditorSession::OnProcessingAborted() {
  m_applyLabelAbort = false;
  m_manualAllowed = true;
  m_busy = false;
  UpdateCommands();
}

bool CEditorSession::PressOk() {
  if (!IsOkEnabled()) return false;
  if (m_recorder) m_recorder->Ended(true);
  return true;
}

bool CEditorSession::PressCancel() {
  if (m_filter.m_running) {
    m_filter.AbortRun();
    ResetProgress();
    return false;
  }
  ResetProgress();
  if (m_recorder) m_recorder->Ended(false);
  return true;
}
