#include "Param.h"

#include <climits>
#include <cstring>
#include <ostream>

namespace {

// The buffers values are read into; a larger stored value does not load.
constexpr DWORD kBoolBufferSize = 4;
constexpr DWORD kIntBufferSize = 64;

int32_t FirstWord(const BYTE* bytes) {
  return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                              (static_cast<uint32_t>(bytes[2]) << 16) |
                              (static_cast<uint32_t>(bytes[3]) << 24));
}

// Reads the value into a zeroed buffer, so that a value shorter than four
// bytes reads as its bytes followed by zeros rather than as stale memory.
bool QueryWord(HKEY key, const std::string& name, DWORD bufferSize, int32_t& word) {
  BYTE buffer[kIntBufferSize] = {};
  DWORD size = bufferSize;
  DWORD type = 0;
  if (RegQueryValueEx(key, name.c_str(), nullptr, &type, buffer, &size) != ERROR_SUCCESS) return false;
  word = FirstWord(buffer);
  return true;
}

int SaveWord(HKEY key, const std::string& name, DWORD type, int32_t value) {
  const uint32_t word = static_cast<uint32_t>(value);
  const BYTE bytes[4] = {static_cast<BYTE>(word), static_cast<BYTE>(word >> 8),
                         static_cast<BYTE>(word >> 16), static_cast<BYTE>(word >> 24)};
  return RegSetValueEx(key, name.c_str(), 0, type, bytes, sizeof bytes) == ERROR_SUCCESS ? 0 : -1;
}

bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Out-of-range numbers saturate instead of being undefined.
int32_t DecimalToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > static_cast<int64_t>(INT32_MAX) + 1) magnitude = static_cast<int64_t>(INT32_MAX) + 1;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

}  // namespace

// ---- CParam -------------------------------------------------------------

CParam::~CParam() = default;
void CParam::WriteText(std::ostream&) {}
int CParam::ReadText(const std::string&) { return -1; }
int CParam::LoadRegistry(HKEY) { return 0; }
int CParam::SaveRegistry(HKEY) { return 0; }
void CParam::SetText(const std::string&) {}
void CParam::SetString(const char*) {}
void CParam::SetBool(uint8_t) {}
void CParam::SetShort(int16_t) {}
int CParam::SetInt(int) { return 0; }
void CParam::SetDouble(double) {}
void CParam::GetText(std::string&) {}
void CParam::GetString(const char*&) {}
void CParam::GetBool(uint8_t&) {}
void CParam::GetShort(int16_t&) {}
int CParam::GetInt(int& out) { return out; }
void CParam::GetDouble(double&) {}

std::unique_ptr<CParam> CParam::Clone() {
  auto copy = std::make_unique<CParam>();
  copy->m_name = m_name;
  return copy;
}

void CParam::CopyValueTo(CParam&) {}
CParam& CParam::AssignString(const char*) { return *this; }
CParam& CParam::AssignBool(uint8_t) { return *this; }
CParam& CParam::AssignShort(int16_t) { return *this; }
CParam& CParam::AssignInt(int) { return *this; }
bool CParam::Equals(const CParam&) { return false; }
void CParam::ResetToDefault() {}

// ---- CBoolParam ---------------------------------------------------------

CBoolParam::CBoolParam() {
  m_name = kClassName;
  m_regType = REG_DWORD;
}

void CBoolParam::WriteText(std::ostream& out) {
  out << '\t' << m_name << " : " << (m_value ? "True" : "False") << std::endl;
}

int CBoolParam::ReadText(const std::string& text) {
  if (text == "False") {
    m_value = 0;
  } else if (text == "True") {
    m_value = 1;
  }
  return 0;
}

int CBoolParam::LoadRegistry(HKEY key) {
  int32_t word = 0;
  if (!QueryWord(key, m_name, kBoolBufferSize, word)) return -1;
  m_value = word == 1 ? 1 : 0;
  return 0;
}

int CBoolParam::SaveRegistry(HKEY key) { return SaveWord(key, m_name, m_regType, m_value ? 1 : 0); }

// Kept to 0 or 1: the stored form reads back only 1 as true.
void CBoolParam::SetBool(uint8_t value) { m_value = value != 0 ? 1 : 0; }

int CBoolParam::SetInt(int value) {
  m_value = value != 0 ? 1 : 0;
  return m_value;
}

void CBoolParam::GetBool(uint8_t& out) { out = m_value; }

int CBoolParam::GetInt(int& out) {
  out = m_value ? 1 : 0;
  return out;
}

std::unique_ptr<CParam> CBoolParam::Clone() {
  auto copy = std::make_unique<CBoolParam>();
  copy->m_name = m_name;
  copy->m_flags = m_flags;
  copy->m_regType = m_regType;
  copy->m_reserved = m_reserved;
  copy->m_writtenWhenSlot = m_writtenWhenSlot;
  copy->m_value = m_value;
  copy->m_default = m_default;
  return copy;
}

void CBoolParam::CopyValueTo(CParam& other) {
  if (auto* target = dynamic_cast<CBoolParam*>(&other)) target->m_value = m_value;
}

CParam& CBoolParam::AssignBool(uint8_t value) {
  SetBool(value);
  return *this;
}

CParam& CBoolParam::AssignInt(int value) {
  SetInt(value);
  return *this;
}

bool CBoolParam::Equals(const CParam& other) {
  const auto* that = dynamic_cast<const CBoolParam*>(&other);
  return that && that->m_value == m_value;
}

void CBoolParam::ResetToDefault() { m_value = m_default; }

// ---- CIntParam ----------------------------------------------------------

CIntParam::CIntParam() { m_regType = REG_DWORD; }

void CIntParam::WriteText(std::ostream& out) {
  out << '\t' << m_name << " : " << static_cast<int>(m_value) << std::endl;
}

int CIntParam::ReadText(const std::string& text) {
  m_value = DecimalToInt(text);
  return 0;
}

int CIntParam::LoadRegistry(HKEY key) {
  int32_t word = 0;
  if (!QueryWord(key, m_name, kIntBufferSize, word)) return -1;
  m_value = word;
  return 0;
}

int CIntParam::SaveRegistry(HKEY key) { return SaveWord(key, m_name, m_regType, m_value); }

int CIntParam::SetInt(int value) {
  m_value = value;
  return m_value;
}

int CIntParam::GetInt(int& out) {
  out = m_value;
  return out;
}

std::unique_ptr<CParam> CIntParam::Clone() {
  auto copy = std::make_unique<CIntParam>();
  copy->m_name = m_name;
  copy->m_flags = m_flags;
  copy->m_regType = m_regType;
  copy->m_reserved = m_reserved;
  copy->m_writtenWhenSlot = m_writtenWhenSlot;
  copy->m_value = m_value;
  copy->m_min = m_min;
  copy->m_max = m_max;
  copy->m_default = m_default;
  return copy;
}

void CIntParam::CopyValueTo(CParam& other) {
  if (auto* target = dynamic_cast<CIntParam*>(&other)) {
    target->m_value = m_value;
    target->m_min = m_min;
    target->m_max = m_max;
    target->m_default = m_default;
  }
}

CParam& CIntParam::AssignInt(int value) {
  SetInt(value);
  return *this;
}

bool CIntParam::Equals(const CParam& other) {
  const auto* that = dynamic_cast<const CIntParam*>(&other);
  return that && that->m_value == m_value;
}

void CIntParam::ResetToDefault() { m_value = m_default; }
