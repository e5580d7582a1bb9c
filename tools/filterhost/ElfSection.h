// Reads one named section of an ELF file without loading it, so a module's
// properties can be learnt without running any of its code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Fills `bytes` with the section's content. False, with a reason in
// `error`, when the file cannot be read, is not a 64-bit little-endian ELF
// file, is damaged, or has no such section.
bool ReadElfSection(const std::string& path, const std::string& section,
                    std::vector<uint8_t>& bytes, std::string& error);
