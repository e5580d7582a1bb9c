#include "editor/EditorDialog.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStandardPaths>

#include "editor/ParamPanel.h"
#include "editor/PresetImageButton.h"
#include "editor/model/Commands.h"
#include "engine/MatteFilter.h"
#include "framework/dialogs/SaveStyleDialog.h"
#include "platform/MessageBox.h"
#include "platform/WinApp.h"

const char* const kInstructionsText =
    "1.Mark color for erasing 2.Mark object 3.Press Apply button 4.If it is necessary use "
    "Manual Erase/Recover";

const char* ToolStatusText(int tool) {
  switch (tool) {
    case ID_TOOL_ZOOM:
      return "Click to zoom in. Right-click to zoom out. Use mouse wheel to zoom.";
    case ID_TOOL_HAND:
      return "Click and drag to scroll image in desired direction.";
    case ID_TOOL_MARK_BACKGROUND:
      return "Click and drag to mark background. Use Ctrl for additional options.";
    case ID_TOOL_MARK_OBJECT:
      return "Click and drag to mark object. Use Ctrl for additional options.";
    case ID_TOOL_MANUAL:
      return "Click and drag to erase. Right-click and drag to unerase.";
    default:
      return nullptr;
  }
}

namespace {

// Controls whose rectangles the layout keeps, in the order they are recorded.
constexpr int kLaidOutControls[] = {IDC_VIEW,        IDC_ZOOM_READOUT, IDC_PROGRESS,
                                    IDC_STATUS,      IDOK,             IDCANCEL,
                                    IDC_HELP,        IDC_PRESET_LABEL, IDC_PRESET_LIST,
                                    IDC_PRESET_SAVE, IDC_PRESET_DELETE, IDC_PANEL_PLACE};

// The name that finds the help openers among the window's children.
const char* const kHelpProcessName = "kelvane-help-opener";

// The window's keys for undo and redo.
const std::pair<QKeySequence, int> kUndoKeys[] = {
    {QKeySequence(Qt::CTRL | Qt::Key_Z), ID_UNDO},
    {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), ID_REDO},
    {QKeySequence(Qt::CTRL | Qt::Key_Y), ID_REDO},
};

bool IsUndoKey(const QKeyEvent* key) {
  const QKeySequence typed(key->keyCombination());
  for (const auto& [sequence, command] : kUndoKeys) {
    if (typed == sequence) return true;
  }
  return false;
}

}  // namespace

CEditorDialog::CEditorDialog(CCoreImage& displayed, CParamPanel& panel, CMatteFilter& filter,
                             std::function<IEditorView*()> makeView)
    : CProcessDialog(kEditorTemplateId, IDC_PROGRESS, kEditorAcceleratorId, kEditorTitleId),
      m_panel(panel),
      m_filter(filter),
      m_session(filter, m_document, displayed),
      m_makeView(std::move(makeView)) {
  m_session.SetListener(this);
}

CEditorDialog::~CEditorDialog() {
  // The view points into the session, which goes before the window's
  // children would: the view goes first. The panel belongs to its creator.
  if (m_editorView) {
    m_editorView->SetSession(nullptr, nullptr);
    DestroyView();
    m_editorView = nullptr;
  }
  // A help opener still running may be the browser itself: it outlives the
  // window rather than being killed with it (a QProcess kills on deletion),
  // and deletes itself if it ends while an event loop runs.
  for (QProcess* process :
       findChildren<QProcess*>(kHelpProcessName, Qt::FindDirectChildrenOnly)) {
    if (process->state() == QProcess::NotRunning) continue;
    disconnect(process, nullptr, this, nullptr);
    process->setParent(nullptr);
  }
  m_session.SetListener(nullptr);
  m_session.SetRecorder(nullptr);
  m_panel.SetSession(nullptr);
  m_panel.setParent(nullptr);
}

void CEditorDialog::SetMinimumSize(int width, int height) {
  m_minimumWidth = width;
  m_minimumHeight = height;
}

bool CEditorDialog::OnInitDialog() {
  CProcessDialog::OnInitDialog();
  m_editorView = m_makeView ? m_makeView() : nullptr;
  if (m_editorView) m_editorView->SetSession(&m_session, this);
  if (!m_editorView || !CreateView(IDC_VIEW, m_editorView)) return true;
  if (!CreateToolBar(kEditorToolBarId, IDC_TOOLBAR_PLACE)) return true;
  AddUndoKeys();
  m_sizeGrip = new QSizeGrip(this);
  m_sizeGrip->resize(m_sizeGrip->sizeHint());

  // The session takes the layer copy, hands the filter its source and this
  // window, and prepares the document and the defaults of every control.
  m_session.Open(NotifyWindow());
  if (m_record) {
    m_recorder = std::make_unique<CSessionRecorder>(m_document.Width(), m_document.Height());
    m_session.SetRecorder(m_recorder.get());
  }
  m_panel.SetSession(&m_session);
  m_panel.Create(this);

  int panelTop = 0;
  bool presetsRemoved = false;
  if (m_showPresets) {
    SetUpPresetRow();
  } else {
    if (QWidget* label = GetDlgItem(IDC_PRESET_LABEL)) panelTop = label->geometry().top();
    for (int id : {IDC_PRESET_LABEL, IDC_PRESET_LIST, IDC_PRESET_SAVE, IDC_PRESET_DELETE}) {
      DestroyDlgItem(id);
    }
    presetsRemoved = true;
  }
  const QRect place = GetDlgItem(IDC_PANEL_PLACE) ? GetDlgItem(IDC_PANEL_PLACE)->geometry()
                                                  : QRect();
  DestroyDlgItem(IDC_PANEL_PLACE);
  SetDlgItem(IDC_PANEL_PLACE, &m_panel);
  const int top = presetsRemoved ? panelTop : place.top();
  const QSize own = m_panel.TemplateSize();
  const int panelWidth = std::max(place.width(), own.width());
  const int panelHeight = std::max(place.bottom() + 1 - top, own.height());
  m_panel.setGeometry(place.left(), top, panelWidth, panelHeight);

  QSize client = size();
  client += QSize(std::max(0, m_panel.geometry().right() - place.right()),
                  std::max(0, m_panel.geometry().bottom() - place.bottom()));
  m_initialClient = client;
  resize(client);
  for (int id : kLaidOutControls) {
    if (QWidget* control = GetDlgItem(id)) m_controlRects[id] = control->geometry();
  }
  // At least the minimum size, and wide enough for the status line's
  // longest text where the screen allows; the growth beyond the template
  // goes to the view through the resize layout, and the window never gets
  // smaller.
  int windowWidth = std::max(client.width(), m_minimumWidth);
  if (QWidget* status = GetDlgItem(IDC_STATUS)) {
    const int wanted = client.width() + std::max(0, WidestStatusText() - status->width());
    const int screenWidth = screen() ? screen()->availableGeometry().width() : wanted;
    windowWidth = std::max(windowWidth, std::min(wanted, screenWidth));
  }
  const int windowHeight = std::max(client.height(), m_minimumHeight);
  m_laidOut = true;
  setMinimumSize(windowWidth, windowHeight);
  resize(windowWidth, windowHeight);
  QResizeEvent laidOut(size(), client);
  resizeEvent(&laidOut);
  m_panel.show();
  m_editorView->ZoomToFit();
  ShowStatus(keStatusInstructions);
  return true;
}

int CEditorDialog::WidestStatusText() const {
  QWidget* status = GetDlgItem(IDC_STATUS);
  if (!status) return 0;
  const QFontMetrics metrics(status->font());
  int widest = metrics.horizontalAdvance(QString::fromUtf8(kInstructionsText));
  for (int tool = ID_TOOL_ZOOM; tool <= ID_TOOL_MANUAL; ++tool) {
    if (const char* text = ToolStatusText(tool)) {
      widest = std::max(widest, metrics.horizontalAdvance(QString::fromUtf8(text)));
    }
  }
  return widest;
}

void CEditorDialog::resizeEvent(QResizeEvent* event) {
  CProcessDialog::resizeEvent(event);
  if (m_sizeGrip) {
    m_sizeGrip->move(width() - m_sizeGrip->width(), height() - m_sizeGrip->height());
    m_sizeGrip->raise();
  }
  if (!m_laidOut) return;
  const int dx = width() - m_initialClient.width();
  const int dy = height() - m_initialClient.height();
  for (const auto& [id, rect] : m_controlRects) {
    QWidget* control = GetDlgItem(id);
    if (!control) continue;
    QRect moved = rect;
    switch (id) {
      case IDC_VIEW:
        moved.setSize(rect.size() + QSize(dx, dy));
        break;
      case IDC_ZOOM_READOUT:
      case IDC_PROGRESS:
        moved.translate(0, dy);
        break;
      case IDC_STATUS:
        moved.translate(0, dy);
        moved.setWidth(rect.width() + dx);
        break;
      default:
        moved.translate(dx, 0);
        break;
    }
    control->setGeometry(moved);
  }
  update();
}

bool CEditorDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride && IsUndoKey(static_cast<QKeyEvent*>(event))) {
    // The panel's fields hold a number or two: the document's undo matters
    // more than theirs, so their claim on the keys is not passed on.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && isAncestorOf(widget)) {
      event->ignore();
      return true;
    }
  }
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (key->key() == Qt::Key_Control && m_editorView && widget &&
        (widget == &m_panel || m_panel.isAncestorOf(widget))) {
      // Repeats of a held key are not switches of their own.
      if (!key->isAutoRepeat()) m_editorView->OnViewCtrlKey(event->type() == QEvent::KeyPress);
      RequestUpdatePass();
      return true;
    }
  }
  return CProcessDialog::eventFilter(watched, event);
}

void CEditorDialog::OnZoomChanged(double newZoom, double oldZoom) {
  CProcessDialog::OnZoomChanged(newZoom, oldZoom);
  SetDlgItemText(IDC_ZOOM_READOUT, ZoomPercent(newZoom));
}

QString CEditorDialog::StatusText() const {
  auto* label = qobject_cast<QLabel*>(GetDlgItem(IDC_STATUS));
  return label ? label->text() : QString();
}

QString CEditorDialog::ZoomReadout() const {
  auto* label = qobject_cast<QLabel*>(GetDlgItem(IDC_ZOOM_READOUT));
  return label ? label->text() : QString();
}

void CEditorDialog::OnCommand(int id) {
  switch (id) {
    case IDOK: OnOK(); break;
    case IDCANCEL: OnCancel(); break;
    case IDC_PRESET_SAVE:
      if (m_presetRow) {
        CSaveStyleDialog dialog(this);
        m_presetRow->Save(dialog);
      }
      break;
    case IDC_PRESET_DELETE:
      if (m_presetRow) {
        CMessageBoxDeleteQuestion question(static_cast<QWidget*>(this));
        m_presetRow->Delete(question);
      }
      break;
    case IDC_HELP: OpenHelp(); break;
    default: break;
  }
}

void CEditorDialog::OpenHelp() {
  const QString page = m_helpPage.isEmpty() ? HelpPagePath() : m_helpPage;
  if (page.isEmpty() || !QFileInfo(page).isFile()) {
    ShowHelpProblem("The help page is missing" +
                    (page.isEmpty() ? std::string(".") : ": " + page.toStdString()));
    return;
  }
  const QString opener = QStandardPaths::findExecutable("xdg-open");
  if (opener.isEmpty()) {
    ShowHelpFailure(page);
    return;
  }
  // A child of the window, so a finished opener goes with it; one still
  // running when the window goes is let go, not killed (see the destructor).
  auto* process = new QProcess(this);
  process->setObjectName(kHelpProcessName);
  // The browser may run as long as the opener: nothing of it may wait on a
  // pipe nobody reads.
  process->setStandardInputFile(QProcess::nullDevice());
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  connect(process, &QProcess::finished, process, &QObject::deleteLater);
  connect(process, &QProcess::errorOccurred, this,
          [this, process, page](QProcess::ProcessError error) {
            // A process that never started does not finish.
            if (error != QProcess::FailedToStart) return;
            process->deleteLater();
            ShowHelpFailure(page);
          });
  connect(process, &QProcess::finished, this,
          [this, page](int exitCode, QProcess::ExitStatus status) {
            if (status != QProcess::NormalExit || exitCode != 0) ShowHelpFailure(page);
          });
  // Started directly, never through a shell: the path is data.
  process->start(opener, {page});
}

void CEditorDialog::ShowHelpFailure(const QString& page) {
  ShowHelpProblem("The help page could not be opened in a browser. You can open it yourself: " +
                  page.toStdString());
}

void CEditorDialog::ShowHelpProblem(const std::string& text) {
  MessageBox(static_cast<QWidget*>(this), text, windowTitle().toStdString(),
             MB_OK | MB_ICONWARNING);
}

QString CEditorDialog::HelpPagePath() {
  const std::string module = ModuleFileNameOf(reinterpret_cast<const void*>(&ToolStatusText));
  if (module.empty()) return QString();
  return QFileInfo(QString::fromStdString(module)).dir().filePath("Help/kelvane.html");
}

void CEditorDialog::OnOK() {
  if (m_session.PressOk()) EndDialog(IDOK);
}

void CEditorDialog::OnCancel() {
  if (m_session.PressCancel()) EndDialog(IDCANCEL);
  m_panel.Reflect();
}

void CEditorDialog::OnRunMessage(const CWindowMessage& message) {
  const int finishedBefore = m_session.RunsFinished();
  m_session.HandleMessage(message);
  if (m_session.RunsFinished() != finishedBefore) OnRunFinished();
  UpdateCommands();
}

void CEditorDialog::OnRunFinished() { m_panel.Reflect(); }

void CEditorDialog::OnRunFailed() { m_panel.Reflect(); }

void CEditorDialog::SetUpPresetRow() {
  m_presetRow = std::make_unique<CPresetRow>(
      m_session, m_presetFolder.empty() ? GetPresetFolder() : m_presetFolder,
      CPresetState::Process());
  m_presetRow->SetOwner(static_cast<QWidget*>(this));
  m_presetRow->SetListener(this);
  for (const auto& [id, picture] : {std::pair{IDC_PRESET_SAVE, kSavePresetPictureId},
                                    std::pair{IDC_PRESET_DELETE, kDeletePresetPictureId}}) {
    QWidget* placeholder = GetDlgItem(id);
    auto* button = new CPresetImageButton(picture, this);
    if (placeholder) button->setGeometry(placeholder->geometry());
    DestroyDlgItem(id);
    SetDlgItem(id, button);
    connect(button, &QPushButton::clicked, this, [this, id = id] { OnCommand(id); });
    button->show();
  }
  if (auto* list = qobject_cast<QComboBox*>(GetDlgItem(IDC_PRESET_LIST))) {
    // Every choice of the user counts, the entry already shown included.
    connect(list, &QComboBox::activated, this, [this](int index) { OnPresetChosen(index); });
  }
  m_presetRow->Fill();
}

void CEditorDialog::PresetListChanged() {
  auto* list = qobject_cast<QComboBox*>(GetDlgItem(IDC_PRESET_LIST));
  if (!list || !m_presetRow) return;
  const QSignalBlocker quiet(list);
  list->clear();
  for (const std::string& entry : m_presetRow->List().Entries()) {
    list->addItem(QString::fromStdString(entry));
  }
  list->setCurrentIndex(m_presetRow->List().Selection());
  RequestUpdatePass();
}

void CEditorDialog::OnPresetChosen(int index) {
  if (!m_presetRow) return;
  m_presetRow->Choose(index);
  RequestUpdatePass();
}

void CEditorDialog::OnUpdateCommands() {
  EnableDlgItem(IDOK, m_session.IsOkEnabled());
  // Only a preset that was saved or chosen can be deleted.
  if (m_presetRow) EnableDlgItem(IDC_PRESET_DELETE, !m_presetRow->State().m_path.empty());
  m_panel.Reflect();
}

// The view repaints itself before it passes the call on.
void CEditorDialog::Repaint(bool) {}

void CEditorDialog::ShowStatus(int kind) {
  m_statusKind = kind;
  const char* text = kind == keStatusInstructions ? kInstructionsText
                                                  : ToolStatusText(m_session.Tool());
  if (text) SetDlgItemText(IDC_STATUS, text);
}

void CEditorDialog::AddUndoKeys() {
  for (const auto& [sequence, command] : kUndoKeys) {
    auto* shortcut = new QShortcut(sequence, this);
    connect(shortcut, &QShortcut::activated, this, [this, command = command] {
      RouteCommand(command);
      RequestUpdatePass();
    });
  }
}

void CEditorDialog::OnStatusTip(const QString& text) {
  if (text.isEmpty()) {
    ShowStatus(m_statusKind);
  } else {
    SetDlgItemText(IDC_STATUS, text);
  }
}

void CEditorDialog::FocusStrength() { m_panel.FocusStrength(); }

void CEditorDialog::ProgressChanged(int percent) { SetProgress(percent); }
