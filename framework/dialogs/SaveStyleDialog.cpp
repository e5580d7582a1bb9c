#include "framework/dialogs/SaveStyleDialog.h"

#include <QLineEdit>

#include "platform/MessageBox.h"

CSaveStyleDialog::CSaveStyleDialog(QWidget* parent) : CDialog(kSaveStyleTemplateId, parent) {}

bool CSaveStyleDialog::DoModal(CSaveStyleRules& rules) {
  m_rules = &rules;
  const int result = CDialog::DoModal();
  m_rules = nullptr;
  return result == IDOK;
}

bool CSaveStyleDialog::OnInitDialog() {
  if (QWidget* field = GetDlgItem(IDC_STYLE_NAME)) field->setFocus();
  return true;
}

void CSaveStyleDialog::OnOK() {
  auto* field = qobject_cast<QLineEdit*>(GetDlgItem(IDC_STYLE_NAME));
  if (!m_rules || !field) return;
  CMessageBoxStyleQuestions questions(static_cast<QWidget*>(this));
  if (m_rules->OnOk(field->text().toStdString(), questions)) {
    EndDialog(IDOK);
  } else {
    field->setFocus();
    field->selectAll();
  }
}
