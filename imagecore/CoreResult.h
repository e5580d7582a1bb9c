// Failures of the core, the engine and the framework travel as CoreResult
// handles: null on success, otherwise a reference-counted CJException with a
// code. A failure that nobody examines is thrown when its last handle goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>

enum : uint32_t {
  keErrAborted = 100,          // a run was aborted
  keErrInvalidArgument = 101,  // also: a run is still in progress
  keErrOutOfMemory = 102,
  keErrNoStorage = 110,        // no storage, or a format the operation cannot use
  keErrPngMissing = 201,
  keErrBitmapBits = 801,
};

class CJException : public std::exception {
 public:
  explicit CJException(uint32_t code, void* context0 = nullptr, void* context1 = nullptr,
                       void* context2 = nullptr);
  // A copy carries code, context and an explicit message; it is not shared.
  CJException(const CJException& other);
  CJException& operator=(const CJException&) = delete;
  ~CJException() override;

  const char* what() const noexcept override;
  virtual const char* MessageText();
  [[noreturn]] virtual void Raise() const;

  uint32_t Code() const { return m_code; }
  void* Context(int i) const { return m_context[i]; }
  // Replaces the looked-up text, e.g. for a failure met outside the core.
  void SetMessage(const char* text);

 private:
  friend class CoreResult;
  friend class CoreResultAccess;

  uint32_t m_code;
  std::atomic<int32_t> m_refCount{0};
  uint8_t m_heap = 0;
  uint8_t m_armed = 0;
  char* m_message = nullptr;  // null until asked for: m_inline or a heap copy
  char m_inline[512];
  void* m_context[3];
};

// A handle to a result. Copying shares the result and arms it again, so the
// new holder must examine it in turn; assignment releases what was held.
class [[nodiscard]] CoreResult {
 public:
  CoreResult() = default;
  CoreResult(const CoreResult& other);
  CoreResult(CoreResult&& other) noexcept : m_ptr(other.m_ptr) { other.m_ptr = nullptr; }
  CoreResult& operator=(const CoreResult& other);
  CoreResult& operator=(CoreResult&& other);
  ~CoreResult() noexcept(false);

  CJException* Get() const { return m_ptr; }
  bool IsNull() const { return m_ptr == nullptr; }

 private:
  friend CoreResult& SetResult(CoreResult&, uint32_t, void*, void*, void*);
  friend uint32_t ExamineResult(CoreResult&);
  friend CoreResult& ShareResult(CoreResult&, const CoreResult&);
  friend CoreResult& ResultFromException(CoreResult&, const CJException&);
  friend void ReleaseResult(CoreResult&);

  CJException* m_ptr = nullptr;
};

// Replaces the slot's content (disarmed first, so this never throws) by a
// fresh, armed result with the code; code 0 clears the slot.
CoreResult& SetResult(CoreResult& slot, uint32_t code, void* context0 = nullptr,
                      void* context1 = nullptr, void* context2 = nullptr);
// Takes note of the failure: returns its code (0 for success) and disarms it.
uint32_t ExamineResult(CoreResult& slot);
CoreResult& ShareResult(CoreResult& slot, const CoreResult& other);
CoreResult& ResultFromException(CoreResult& slot, const CJException& caught);
// Drops the slot's reference; the last release of an armed failure throws,
// unless an exception is already in flight.
void ReleaseResult(CoreResult& slot);

// A fresh result with the code, for `return MakeResult(101);`.
CoreResult MakeResult(uint32_t code);

// Throws the code as a CJException unless it is 0.
void ThrowIfFailed(uint32_t code);
// Examines the result and throws its code unless it succeeded: how the
// engine's stages turn the core's results into the core's exception.
void ThrowIfFailed(CoreResult result);

// Named string modules where message texts are looked up; the first whose
// upper-cased name contains "COREERRORCODES" serves the core's messages.
using MessageLookup = const char* (*)(uint32_t id);
void RegisterMessageModule(const char* name, MessageLookup lookup);
void UnregisterMessageModule(const char* name);

// For tests: makes the allocation of new results fail.
void SetResultAllocationFailsForTesting(bool fails);
