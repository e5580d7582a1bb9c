// A dialog built from a template of the module's resources: its controls
// are real widgets at the template's rectangles (dialog units converted
// with the dialog font's metrics), found by control id. Modal dialogs run
// with DoModal and end with EndDialog; child dialogs sit inside a parent.
#pragma once

#include <QDialog>
#include <QFont>
#include <map>
#include <optional>

#include "platform/DialogTemplate.h"

class CDialog : public QDialog {
 public:
  // A dialog of template `templateId`; created (its widgets made) by
  // DoModal or Create.
  explicit CDialog(int templateId, QWidget* parent = nullptr);
  ~CDialog() override;

  // Lays the dialog out in `font` instead of the template's; before DoModal
  // or Create.
  void SetDialogFont(const QFont& font) { m_fontOverride = font; }

  int TemplateId() const { return m_templateId; }
  const CDialogTemplate& Template() const { return m_template; }

  // Modal run: creates the controls, runs OnInitDialog, and returns the
  // code given to EndDialog (IDOK, IDCANCEL ...), or -1 when the template
  // is missing.
  int DoModal();
  // A modeless child inside `parent`; false when the template is missing.
  bool Create(QWidget* parent);
  void EndDialog(int result);
  // Escape and the close box; Enter on the default button.
  void reject() override { OnCancel(); }
  // A child dialog leaves Escape to the window it is part of, so Escape is
  // that window's Cancel wherever the focus is.
  void keyPressEvent(QKeyEvent* event) override;
  void accept() override { OnOK(); }

  // The control with the id, or null (also after it was destroyed).
  QWidget* GetDlgItem(int id) const;
  // Forgets the control and deletes its widget.
  void DestroyDlgItem(int id);
  // Gives `widget` the id (it replaces whatever held it).
  void SetDlgItem(int id, QWidget* widget);
  void SetDlgItemText(int id, const QString& text);
  void EnableDlgItem(int id, bool enable);

  // The template's rectangle in pixels of this dialog's font.
  QRect DialogToPixels(const CDialogRect& rect) const;
  // The template's size in pixels.
  QSize TemplateSize() const;

 protected:
  // After the controls exist; false stops nothing (as a dialog's answer
  // about the focus), kept for the derived dialogs' habits.
  virtual bool OnInitDialog() { return true; }
  // A push button was clicked, or a check box toggled by the user. By
  // default the OK and Cancel buttons go to OnOK and OnCancel.
  virtual void OnCommand(int id);
  // Escape, Cancel and the window's close box; by default ends with IDCANCEL.
  virtual void OnCancel();
  // Enter, OK; by default ends with IDOK.
  virtual void OnOK();

 private:
  bool BuildControls();
  QWidget* MakeControl(const CDialogControl& control);

  int m_templateId;
  CDialogTemplate m_template;
  bool m_built = false;
  std::optional<QFont> m_fontOverride;
  int m_baseX = 0;
  int m_baseY = 0;
  std::map<int, QWidget*> m_items;
};
