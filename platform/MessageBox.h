// Message boxes. With no window system (replays, tests, no display) the
// caption and text go to standard error and the default button is taken.
#pragma once

#include <functional>
#include <string>

enum : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_YESNOCANCEL = 0x3,
  MB_YESNO = 0x4,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONINFORMATION = 0x40,
  MB_DEFBUTTON2 = 0x100,
  MB_DEFBUTTON3 = 0x200,
  MB_TYPEMASK = 0xF,
  MB_DEFMASK = 0xF00,
};

enum : int {
  IDOK = 1,
  IDCANCEL = 2,
  IDYES = 6,
  IDNO = 7,
};

using MessageBoxHandler =
    std::function<int(void* owner, const std::string& text, const std::string& caption, unsigned type)>;

// Shows the box through the installed handler, or prints it.
int MessageBox(void* owner, const std::string& text, const std::string& caption, unsigned type);

// The button a box of this type answers when nobody can press one.
int DefaultMessageBoxButton(unsigned type);

// Installs a handler (a window system, a test); returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
