#include "Pipl.h"

#include <string_view>

namespace {

// Builds the list at compile time so the section holds constant bytes only.
class CPiplWriter {
 public:
  constexpr void U8(uint8_t value) { m_bytes[m_size++] = value; }
  constexpr void U16(uint16_t value) {
    U8(static_cast<uint8_t>(value));
    U8(static_cast<uint8_t>(value >> 8));
  }
  constexpr void U32(uint32_t value) {
    U16(static_cast<uint16_t>(value));
    U16(static_cast<uint16_t>(value >> 16));
  }
  // A four-character code as a little-endian integer: "8BIM" lands as "MIB8".
  constexpr void Code(std::string_view code) {
    U32(static_cast<uint32_t>(static_cast<uint8_t>(code[0])) << 24 |
        static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 16 |
        static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 8 |
        static_cast<uint32_t>(static_cast<uint8_t>(code[3])));
  }
  constexpr void Text(std::string_view text) {
    for (char c : text) U8(static_cast<uint8_t>(c));
  }
  constexpr void ZeroTo(size_t end) {
    while (m_size < end) U8(0);
  }

  // Vendor, key, id 0 and the data length; the caller then writes exactly
  // `length` bytes (a multiple of 4).
  constexpr size_t Property(std::string_view key, uint32_t length) {
    Code("8BIM");
    Code(key);
    U32(0);
    U32(length);
    return m_size + length;
  }
  constexpr void PascalProperty(std::string_view key, std::string_view text) {
    const uint32_t padded = static_cast<uint32_t>((text.size() + 1 + 3) / 4 * 4);
    const size_t end = Property(key, padded);
    U8(static_cast<uint8_t>(text.size()));
    Text(text);
    ZeroTo(end);
  }

  constexpr size_t Size() const { return m_size; }
  constexpr const std::array<uint8_t, kPiplSize>& Bytes() const { return m_bytes; }

 private:
  std::array<uint8_t, kPiplSize> m_bytes{};
  size_t m_size = 0;
};

constexpr std::array<uint8_t, kPiplSize> BuildPipl() {
  CPiplWriter w;
  w.U16(1);  // resource version
  w.U32(0);  // list version
  w.U32(9);  // property count

  w.Property("kind", 4);
  w.Code("8BFM");

  w.PascalProperty("name", "Kelvane...");
  w.PascalProperty("catg", "Orvanta");

  w.Property("vers", 4);
  w.U32(0x00040000);

  size_t end = w.Property("wx86", 12);
  w.Text("ENTRYPOINT");
  w.ZeroTo(end);

  // Terminology names a resource the module does not carry: the filter
  // defines no scripting terms.
  end = w.Property("hstm", 56);
  w.U32(0);
  w.Code("sdK1");
  w.Code("sdK1");
  w.U16(16000);
  w.Text("98b5a608-46ce-11d3-bd6b-0060b0a13dc4");
  w.ZeroTo(end);

  // Grayscale, RGB, CMYK, HSL, HSB, Multichannel; Duotone, Lab. The filter
  // itself refuses all but RGB with transparency when it runs.
  w.Property("mode", 4);
  w.U8(0x5F);
  w.U8(0xC0);
  w.U8(0);
  w.U8(0);

  end = w.Property("enbl", 112);
  w.Text("in (PSHOP_ImageMode, GrayScaleMode, RGBMode,CMYKMode, HSLMode, HSBMode, "
         "MultichannelMode,DuotoneMode, LabMode)");
  w.ZeroTo(end);

  // Straight data in and out for all seven cases; without a selection
  // 0x07, with one 0x0F (may also write outside the selection).
  w.Property("fici", 28);
  const uint8_t flags[7] = {0x07, 0x0F, 0x0F, 0x07, 0x0F, 0x07, 0x0F};
  for (uint8_t flag : flags) {
    w.U8(1);
    w.U8(1);
    w.U8(flag);
    w.U8(0);
  }

  if (w.Size() != kPiplSize) throw "the property list does not fill its size";
  return w.Bytes();
}

}  // namespace

// The host reads this section from the file without loading the module;
// `used` keeps it even though no code refers to it.
__attribute__((section(".pipl"), used)) constinit const std::array<uint8_t, kPiplSize> g_pipl =
    BuildPipl();
