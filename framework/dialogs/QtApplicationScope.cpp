#include "framework/dialogs/QtApplicationScope.h"

#include <QApplication>

namespace {

// QApplication keeps references to argc and argv for its whole life.
int s_argc = 1;
char s_name[] = "kelvane";
char* s_argv[] = {s_name, nullptr};

}  // namespace

CQtApplicationScope::CQtApplicationScope() {
  if (!QApplication::instance()) m_owned = std::make_unique<QApplication>(s_argc, s_argv);
}

CQtApplicationScope::~CQtApplicationScope() = default;
