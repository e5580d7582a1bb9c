// The host program: one picture through the filter, or a batch of them.
#pragma once

#include <string>
#include <vector>

#include "tools/kelvane/HostOptions.h"

// The menu name of the filter the program runs.
inline constexpr const char* kFilterName = "Kelvane...";

// The folders searched for modules: the one named, or `../plugins` beside the
// executable and then the installed folder.
std::vector<std::string> PluginFolders(const CHostOptions& options);

// "kelvane 1.0" and the versions of the libraries that read, write and show
// pictures, one a line.
std::string HostVersions();

// The whole program; returns its exit status.
int RunHostProgram(int argc, char** argv);
