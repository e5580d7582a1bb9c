// The built module as a host sees it: its property list and its exports.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kModule = std::string(KELVANE_PLUGIN_DIR) + "/kelvane.8bf";

std::string CommandOutput(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// The property list built by hand, field by field, from its layout table.
class CExpectedPipl {
 public:
  CExpectedPipl() {
    Put16(1);
    Put32(0);
    Put32(9);
    Property("kind", Code("8BFM"));
    Property("name", PascalString("Kelvane..."));
    Property("catg", PascalString("Orvanta"));
    Property("vers", Word(0x00040000));
    Property("wx86", Padded("ENTRYPOINT", 12));
    std::vector<uint8_t> hstm = Word(0);
    Append(hstm, Code("sdK1"));
    Append(hstm, Code("sdK1"));
    hstm.push_back(16000 & 0xFF);
    hstm.push_back(16000 >> 8);
    const char* scope = "98b5a608-46ce-11d3-bd6b-0060b0a13dc4";
    hstm.insert(hstm.end(), scope, scope + std::strlen(scope) + 1);
    hstm.resize(56, 0);
    Property("hstm", hstm);
    Property("mode", {0x5F, 0xC0, 0, 0});
    Property("enbl", Padded("in (PSHOP_ImageMode, GrayScaleMode, RGBMode,CMYKMode, HSLMode, "
                            "HSBMode, MultichannelMode,DuotoneMode, LabMode)", 112));
    std::vector<uint8_t> fici;
    for (uint8_t flags : {0x07, 0x0F, 0x0F, 0x07, 0x0F, 0x07, 0x0F}) {
      Append(fici, {1, 1, flags, 0});
    }
    Property("fici", fici);
  }
  std::vector<uint8_t> bytes;

 private:
  static void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& from) {
    to.insert(to.end(), from.begin(), from.end());
  }
  static std::vector<uint8_t> Word(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  }
  // Four-character codes are little-endian integers: "8BIM" is stored "MIB8".
  static std::vector<uint8_t> Code(const char* c) {
    return {uint8_t(c[3]), uint8_t(c[2]), uint8_t(c[1]), uint8_t(c[0])};
  }
  static std::vector<uint8_t> PascalString(const std::string& s) {
    std::vector<uint8_t> out{uint8_t(s.size())};
    out.insert(out.end(), s.begin(), s.end());
    return out;
  }
  static std::vector<uint8_t> Padded(const std::string& s, size_t size) {
    std::vector<uint8_t> out(s.begin(), s.end());
    out.resize(size, 0);
    return out;
  }
  void Put16(uint16_t v) {
    bytes.push_back(uint8_t(v));
    bytes.push_back(uint8_t(v >> 8));
  }
  void Put32(uint32_t v) { Append(bytes, Word(v)); }
  void Property(const char* key, std::vector<uint8_t> data) {
    while (data.size() % 4) data.push_back(0);
    Append(bytes, Code("8BIM"));
    Append(bytes, Code(key));
    Put32(0);
    Put32(static_cast<uint32_t>(data.size()));
    Append(bytes, data);
  }
};

}  // namespace

TEST(ModuleFile, PiplSectionHoldsExactlyTheListedBytes) {
  const std::string out = ::testing::TempDir() + "/kelvane-pipl.bin";
  std::remove(out.c_str());
  ASSERT_EQ(std::system(("objcopy -O binary --only-section=.pipl '" + kModule + "' '" + out + "'")
                            .c_str()),
            0);
  std::ifstream file(out, std::ios::binary);
  const std::vector<uint8_t> section((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
  EXPECT_EQ(section, CExpectedPipl().bytes);
  std::remove(out.c_str());
}

TEST(ModuleFile, ExportsOnlyTheEntryPointOfItsOwn) {
  std::istringstream symbols(CommandOutput("nm -D --defined-only '" + kModule + "'"));
  std::vector<std::string> names;
  std::string line;
  while (std::getline(symbols, line)) {
    const std::string name = line.substr(line.rfind(' ') + 1);
    names.push_back(name);
  }
  EXPECT_EQ(names, std::vector<std::string>{"ENTRYPOINT"});
}
