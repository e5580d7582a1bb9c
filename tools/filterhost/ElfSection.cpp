#include "ElfSection.h"

#include <elf.h>

#include <cstring>
#include <fstream>

namespace {

// Every offset and size comes from the file; none is trusted before it is
// checked against the file's length.
bool Within(uint64_t offset, uint64_t size, uint64_t total) {
  return offset <= total && size <= total - offset;
}

bool ReadAt(std::ifstream& file, uint64_t offset, void* to, uint64_t size) {
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(static_cast<char*>(to), static_cast<std::streamsize>(size));
  return static_cast<uint64_t>(file.gcount()) == size;
}

}  // namespace

bool ReadElfSection(const std::string& path, const std::string& section,
                    std::vector<uint8_t>& bytes, std::string& error) {
  bytes.clear();
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  file.seekg(0, std::ios::end);
  const std::streamoff end = file.tellg();
  if (end < 0) {
    error = "cannot read " + path;
    return false;
  }
  const uint64_t total = static_cast<uint64_t>(end);

  Elf64_Ehdr header;
  if (!Within(0, sizeof header, total) || !ReadAt(file, 0, &header, sizeof header) ||
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
    error = path + " is not an ELF file";
    return false;
  }
  if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB) {
    error = path + " is not a 64-bit little-endian ELF file";
    return false;
  }
  const uint64_t count = header.e_shnum;
  if (header.e_shentsize != sizeof(Elf64_Shdr) || count == 0 ||
      !Within(header.e_shoff, count * sizeof(Elf64_Shdr), total) || header.e_shstrndx >= count) {
    error = path + " has a damaged section table";
    return false;
  }
  std::vector<Elf64_Shdr> sections(count);
  if (!ReadAt(file, header.e_shoff, sections.data(), count * sizeof(Elf64_Shdr))) {
    error = "cannot read " + path;
    return false;
  }
  const Elf64_Shdr& names = sections[header.e_shstrndx];
  if (names.sh_type != SHT_STRTAB || !Within(names.sh_offset, names.sh_size, total)) {
    error = path + " has a damaged section name table";
    return false;
  }
  std::vector<char> nameBytes(names.sh_size);
  if (!ReadAt(file, names.sh_offset, nameBytes.data(), names.sh_size)) {
    error = "cannot read " + path;
    return false;
  }
  for (const Elf64_Shdr& candidate : sections) {
    if (candidate.sh_name >= nameBytes.size()) continue;
    const char* name = nameBytes.data() + candidate.sh_name;
    const size_t room = nameBytes.size() - candidate.sh_name;
    if (strnlen(name, room) == room || section != name) continue;
    if (candidate.sh_type == SHT_NOBITS) return true;  // occupies no bytes in the file
    if (!Within(candidate.sh_offset, candidate.sh_size, total)) {
      error = path + ": section " + section + " lies outside the file";
      return false;
    }
    bytes.resize(candidate.sh_size);
    if (!ReadAt(file, candidate.sh_offset, bytes.data(), candidate.sh_size)) {
      bytes.clear();
      error = "cannot read " + path;
      return false;
    }
    return true;
  }
  error = path + " has no " + section + " section";
  return false;
}
