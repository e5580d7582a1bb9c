// Typed filter parameters. Callers reach a parameter through the fixed set
// of typed getters and setters below without knowing its class; a getter a
// class does not implement leaves its output unchanged, a setter it does not
// implement does nothing.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "platform/Registry.h"

class CParam {
 public:
  CParam() = default;
  CParam(const CParam&) = delete;
  CParam& operator=(const CParam&) = delete;
  virtual ~CParam();

  // The preset line: tab, name, " : ", value, line end.
  virtual void WriteText(std::ostream& out);
  // Parses a preset value; -1 when the class has no text form.
  virtual int ReadText(const std::string& text);
  // The registry value named after the parameter in an open key; 0, or -1
  // when it could not be read (the value is then unchanged) or written.
  virtual int LoadRegistry(HKEY key);
  virtual int SaveRegistry(HKEY key);

  virtual void SetText(const std::string& text);
  virtual void SetString(const char* text);
  virtual void SetBool(uint8_t value);
  virtual void SetShort(int16_t value);
  virtual int SetInt(int value);
  virtual void SetDouble(double value);
  virtual void GetText(std::string& out);
  virtual void GetString(const char*& out);
  virtual void GetBool(uint8_t& out);
  virtual void GetShort(int16_t& out);
  virtual int GetInt(int& out);
  virtual void GetDouble(double& out);

  virtual std::unique_ptr<CParam> Clone();
  // Copies the value into a parameter of the same class; others are left alone.
  virtual void CopyValueTo(CParam& other);
  virtual CParam& AssignString(const char* text);
  virtual CParam& AssignBool(uint8_t value);
  virtual CParam& AssignShort(int16_t value);
  virtual CParam& AssignInt(int value);
  virtual bool Equals(const CParam& other);
  virtual void ResetToDefault();

  std::string m_name = "generic param";
  // Non-zero: written into preset files and reset by a flagged reset.
  uint32_t m_flags = 3;
  uint32_t m_regType = REG_NONE;
  int32_t m_reserved = 1;  // carried along by Clone, otherwise unused
  // -1, or the slot whose value must be non-zero for the preset line to be
  // written: an optional stage's lines appear only while it is on.
  int m_writtenWhenSlot = -1;
};

class CBoolParam : public CParam {
 public:
  static constexpr const char* kClassName = "Boolean Parameter";

  CBoolParam();

  void WriteText(std::ostream& out) override;
  // Only the exact texts "False" and "True" change the value.
  int ReadText(const std::string& text) override;
  int LoadRegistry(HKEY key) override;
  int SaveRegistry(HKEY key) override;
  void SetBool(uint8_t value) override;
  int SetInt(int value) override;
  void GetBool(uint8_t& out) override;
  int GetInt(int& out) override;
  std::unique_ptr<CParam> Clone() override;
  void CopyValueTo(CParam& other) override;
  CParam& AssignBool(uint8_t value) override;
  CParam& AssignInt(int value) override;
  bool Equals(const CParam& other) override;
  void ResetToDefault() override;

  uint8_t m_value = 0;  // 0 or 1
  uint8_t m_default = 0;
};

// The range is what the user interface offers; no operation here clamps.
class CIntParam : public CParam {
 public:
  static constexpr const char* kClassName = "integer param";

  CIntParam();

  void WriteText(std::ostream& out) override;
  // Decimal with the C library's rule: leading white space, optional sign,
  // digits up to the first other character; 0 when there are none.
  int ReadText(const std::string& text) override;
  int LoadRegistry(HKEY key) override;
  int SaveRegistry(HKEY key) override;
  int SetInt(int value) override;
  int GetInt(int& out) override;
  std::unique_ptr<CParam> Clone() override;
  void CopyValueTo(CParam& other) override;
  CParam& AssignInt(int value) override;
  bool Equals(const CParam& other) override;
  void ResetToDefault() override;

  int32_t m_value = 0;
  int32_t m_min = 0;
  int32_t m_max = 0;
  int32_t m_default = 0;
};
