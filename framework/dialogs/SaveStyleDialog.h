// "Save Style": asks for the name a preset is saved under (template 102).
// Its OK button keeps the dialog open until the name passes the rules: a
// plain file name, and Yes to replacing a style of that name.
#pragma once

#include "framework/Presets.h"
#include "framework/dialogs/Dialog.h"

enum : int {
  kSaveStyleTemplateId = 102,
  IDC_STYLE_NAME = 1010,
};

class CSaveStyleDialog : public CDialog, public ISaveStyleDialog {
 public:
  explicit CSaveStyleDialog(QWidget* parent = nullptr);

  // True when the dialog closed with OK; rules.FileName() is then the file.
  bool DoModal(CSaveStyleRules& rules) override;

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  CSaveStyleRules* m_rules = nullptr;
};
