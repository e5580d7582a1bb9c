// Finds filter modules in folders by their property lists, without loading
// any of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CPluginInfo {
  std::string path;        // the module file
  std::string kind;        // "8BFM" for a filter module
  std::string name;        // menu item
  std::string category;    // submenu
  std::string entryPoint;  // exported function to call
};

// Reads a property list as stored in a module's ".pipl" section. False, with
// a reason, for a list that is damaged or lacks a kind.
bool ParsePipl(const uint8_t* bytes, size_t size, CPluginInfo& info, std::string& error);

// The filter modules (*.8bf with a filter kind) in each folder in turn,
// sorted by file name within a folder; a module reached twice is listed once.
// Files that are not modules are passed over; a folder that does not exist
// contributes nothing.
std::vector<CPluginInfo> ScanPluginFolders(const std::vector<std::string>& folders);
