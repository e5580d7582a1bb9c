// How the host program speaks to its user.
#pragma once

#include <cstdio>
#include <string>

// A name in a message: 'photo.jpg'.
inline std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// One line on standard error, after the program's name.
inline void Complain(const std::string& text) {
  std::fprintf(stderr, "kelvane: %s\n", text.c_str());
  std::fflush(stderr);
}
