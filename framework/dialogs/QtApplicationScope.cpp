#include "framework/dialogs/QtApplicationScope.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <vector>

namespace {

// QApplication keeps references to argc and argv for its whole life.
int s_argc = 1;
char s_name[] = "kelvane";
char* s_argv[] = {s_name, nullptr};

int ShowQtBox(void* owner, const std::string& text, const std::string& caption, unsigned type) {
  QMessageBox box(static_cast<QWidget*>(owner));
  box.setWindowTitle(QString::fromStdString(caption));
  box.setText(QString::fromStdString(text));
  switch (type & 0xF0u) {  // the icon bits
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
  }
  struct CButton {
    QMessageBox::StandardButton qt;
    int answer;
  };
  std::vector<CButton> buttons;
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}}; break;
    case MB_YESNOCANCEL:
      buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_YESNO: buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}}; break;
    default: buttons = {{QMessageBox::Ok, IDOK}}; break;
  }
  const size_t defaultIndex = (type & MB_DEFMASK) == MB_DEFBUTTON2   ? 1
                              : (type & MB_DEFMASK) == MB_DEFBUTTON3 ? 2
                                                                     : 0;
  for (size_t i = 0; i < buttons.size(); ++i) {
    QPushButton* button = box.addButton(buttons[i].qt);
    if (i == defaultIndex) box.setDefaultButton(button);
  }
  const auto pressed = static_cast<QMessageBox::StandardButton>(box.exec());
  for (const CButton& button : buttons) {
    if (button.qt == pressed) return button.answer;
  }
  return DefaultMessageBoxButton(type);
}

}  // namespace

CQtApplicationScope::CQtApplicationScope() {
  if (!QApplication::instance()) m_owned = std::make_unique<QApplication>(s_argc, s_argv);
  m_previousBoxes = SetMessageBoxHandler(ShowQtBox);
}

CQtApplicationScope::~CQtApplicationScope() { SetMessageBoxHandler(m_previousBoxes); }
