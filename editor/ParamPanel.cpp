#include "editor/ParamPanel.h"

#include <QAbstractButton>
#include <QListWidget>
#include <iterator>

#include "editor/EditNum.h"

namespace {

struct CParameterControl {
  int slot;
  int id;
  int labelId = -1;  // the label enabled with the control; -1 for none
};

// Where each parameter's control sits in the panel's template.
constexpr CParameterControl kParameterControls[] = {
    {keSlotStrength, IDC_STRENGTH},    {keSlotContract, IDC_CONTRACT},
    {keSlotFeather, IDC_FEATHERING},   {keSlotSmoothing, IDC_SMOOTHING},
    {keSlotFillHoles, IDC_FILL_HOLES}, {keSlotTextured, IDC_TEXTURED},
    {keSlotColourModel, IDC_COLOUR_MODEL}, {keSlotRefineEdge, IDC_REFINE_EDGE},
    {keSlotEdgeWidth, IDC_EDGE_WIDTH, IDC_EDGE_WIDTH_LABEL},
};
static_assert(std::size(kParameterControls) == kMatteParameterCount);

int FieldControlId(keField field) {
  const CMatteParameter* shown = FieldParameter(field);
  return shown ? ParameterControlId(shown->slot) : IDC_BRUSH_SIZE;
}

// The check box's parameter, or null for any other control.
const CMatteParameter* CheckBoxParameter(int id) {
  for (const CParameterControl& control : kParameterControls) {
    const CMatteParameter* parameter = FindMatteParameter(control.slot);
    if (control.id == id && parameter->control == keControlCheckBox) return parameter;
  }
  return nullptr;
}

constexpr int kSettleMilliseconds = 500;

}  // namespace

int ParameterControlId(int slot) {
  for (const CParameterControl& control : kParameterControls) {
    if (control.slot == slot) return control.id;
  }
  return -1;
}

CParamPanel::CParamPanel() : CDialog(kPanelTemplateId) {}

CParamPanel::~CParamPanel() {
  // Fields going away move the focus, and their notices must not reach a
  // panel that is half gone.
  m_session = nullptr;
  for (CEditNum* field : m_fields) {
    if (field) field->SetNotify(nullptr);
  }
}

QListWidget* CParamPanel::DisplayList() const {
  return qobject_cast<QListWidget*>(GetDlgItem(IDC_DISPLAY));
}

QListWidget* CParamPanel::ShowMatList() const {
  return qobject_cast<QListWidget*>(GetDlgItem(IDC_SHOW_MAT));
}

bool CParamPanel::OnInitDialog() {
  // In the order of the fields: Strength first, Brush Size last.
  for (int f = 0; f < keFieldCount; ++f) {
    const keField which = static_cast<keField>(f);
    const int id = FieldControlId(which);
    const CNumericField& rules = m_session->Field(which);
    auto* field = new CEditNum(this);
    if (!field->Create(id, GetDlgItem(id), rules.Minimum(), rules.Maximum(), rules.Value(), 3, 0,
                       -1, kSettleMilliseconds, true, true)) {
      delete field;
      continue;
    }
    SetDlgItem(id, field);
    m_fields[which] = field;
    field->SetNotify([this, which](int, int code) { OnFieldNotice(which, code); });
  }
  if (QListWidget* display = DisplayList()) {
    display->addItems({"Original", "Result"});
    connect(display, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
      const int index = item->text() == "Result" ? keDisplayResult : keDisplayOriginal;
      m_session->ChooseDisplay(index);
      Reflect();
    });
  }
  if (QListWidget* mattes = ShowMatList()) {
    for (int i = 0; i < kShowMatCount; ++i) mattes->addItem(ShowMatName(i));
    connect(mattes, &QListWidget::itemClicked, this, [this, mattes](QListWidgetItem* item) {
      m_session->ChooseShowMat(mattes->row(item));
      Reflect();
    });
  }
  Reflect();
  return true;
}

void CParamPanel::OnFieldNotice(keField field, int code) {
  if (m_reflecting || !m_session) return;
  if (code == EN_CHANGE) {
    m_session->TypeIntoField(field, m_fields[field]->Text().toStdString());
  } else if (code == EN_KILLFOCUS) {
    m_session->LeaveField(field);
  } else {
    return;
  }
  Reflect();
}

void CParamPanel::OnCommand(int id) {
  if (!m_session) return;
  if (const CMatteParameter* box = CheckBoxParameter(id)) {
    m_session->ClickCheckBox(box->slot);
    Reflect();
    return;
  }
  switch (id) {
    case IDC_APPLY: m_session->PressApply(); break;
    case IDC_DEFAULT: m_session->PressDefault(); break;
    case IDC_SMOOTH_BRUSH: m_session->ClickSmoothBrush(); break;
    default: return;
  }
  Reflect();
}

void CParamPanel::ShowField(keField field) {
  CEditNum* widget = m_fields[field];
  if (!widget) return;
  const std::string& text = m_session->Field(field).Text();
  // The session rewrote the text (Default, leaving with a clamped value).
  if (widget->Text().toStdString() != text) {
    widget->SetValue(m_session->Field(field).Value(), false, false);
    if (widget->Text().toStdString() != text) widget->SetText(QString::fromStdString(text));
  }
}

void CParamPanel::Reflect() {
  if (!m_session) return;
  m_reflecting = true;
  for (int f = 0; f < keFieldCount; ++f) ShowField(static_cast<keField>(f));
  auto setChecked = [this](int id, bool checked) {
    if (auto* box = qobject_cast<QAbstractButton*>(GetDlgItem(id))) box->setChecked(checked);
  };
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.control == keControlCheckBox) {
      setChecked(ParameterControlId(row.slot), m_session->IsChecked(row.slot));
    }
  }
  for (const CParameterControl& control : kParameterControls) {
    const bool enabled = m_session->IsParameterEnabled(control.slot);
    EnableDlgItem(control.id, enabled);
    if (control.labelId != -1) EnableDlgItem(control.labelId, enabled);
  }
  setChecked(IDC_SMOOTH_BRUSH, m_session->SmoothBrush());
  SetDlgItemText(IDC_APPLY, m_session->ApplyLabel());
  EnableDlgItem(IDC_APPLY, m_session->IsApplyEnabled());
  EnableDlgItem(IDC_DEFAULT, m_session->IsDefaultEnabled());
  const bool brush = m_session->IsBrushSettingsEnabled();
  EnableDlgItem(IDC_BRUSH_SIZE, brush);
  EnableDlgItem(IDC_BRUSH_SIZE_LABEL, brush);
  EnableDlgItem(IDC_SMOOTH_BRUSH, brush);
  const bool lists = m_session->IsDisplayEnabled();
  EnableDlgItem(IDC_DISPLAY, lists);
  EnableDlgItem(IDC_DISPLAY_LABEL, lists);
  EnableDlgItem(IDC_SHOW_MAT, m_session->IsShowMatEnabled());
  EnableDlgItem(IDC_SHOW_MAT_LABEL, m_session->IsShowMatEnabled());
  if (QListWidget* display = DisplayList()) {
    const QString wanted = m_session->DisplaySelection() == keDisplayResult ? "Result" : "Original";
    for (int row = 0; row < display->count(); ++row) {
      if (display->item(row)->text() == wanted) display->setCurrentRow(row);
    }
  }
  if (QListWidget* mattes = ShowMatList()) mattes->setCurrentRow(m_session->ShowMatSelection());
  m_reflecting = false;
}

void CParamPanel::OnProcessingFinished() {
  m_session->OnProcessingFinished();
  Reflect();
}

void CParamPanel::OnProcessingAborted() {
  m_session->OnProcessingAborted();
  Reflect();
}

void CParamPanel::FocusStrength() {
  if (CEditNum* strength = m_fields[keFieldStrength]) strength->setFocus();
}
