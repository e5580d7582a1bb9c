#include "CoreResult.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

// Stands in whenever memory for a new result cannot be had.
CJException g_spareOutOfMemory(keErrOutOfMemory);

std::atomic<bool> g_allocationFails{false};

struct MessageModule {
  std::string name;
  MessageLookup lookup;
};

std::mutex g_modulesMutex;
std::vector<MessageModule> g_modules;
MessageLookup g_cachedLookup = nullptr;
bool g_cacheValid = false;

MessageLookup CoreMessageModule() {
  std::lock_guard<std::mutex> lock(g_modulesMutex);
  if (!g_cacheValid) {
    g_cachedLookup = nullptr;
    for (const MessageModule& module : g_modules) {
      std::string upper = module.name;
      std::transform(upper.begin(), upper.end(), upper.begin(),
                     [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
      if (upper.find("COREERRORCODES") != std::string::npos) {
        g_cachedLookup = module.lookup;
        break;
      }
    }
    g_cacheValid = true;
  }
  return g_cachedLookup;
}

CJException* NewResult(uint32_t code, void* c0, void* c1, void* c2) {
  if (g_allocationFails.load()) return nullptr;
  return new (std::nothrow) CJException(code, c0, c1, c2);
}

}  // namespace

// Grants the free functions below access to the bookkeeping fields.
class CoreResultAccess {
 public:
  static void Adopt(CoreResult& slot, CJException* object, bool heap) {
    object->m_heap = heap ? 1 : 0;
    object->m_armed = 1;
    object->m_refCount.fetch_add(1);
    *reinterpret_cast<CJException**>(&slot) = object;
  }
  static void Disarm(CJException* object) { object->m_armed = 0; }
  static void Arm(CJException* object) { object->m_armed = 1; }
  static void AddRef(CJException* object) { object->m_refCount.fetch_add(1); }
  static void Release(CJException* object) {
    if (object->m_refCount.fetch_sub(1) - 1 > 0) return;
    const bool raise =
        object->m_armed && object->m_code != 0 && std::uncaught_exceptions() == 0;
    // One owner deletes the object on every path, also while the copy that
    // Raise throws unwinds (and even if an override of Raise returned).
    std::unique_ptr<CJException> owned(object->m_heap ? object : nullptr);
    if (raise) object->Raise();
  }
  static void CopyMessage(CJException* to, const CJException& from) {
    if (from.m_message) to->SetMessage(from.m_message);
  }
};

CJException::CJException(uint32_t code, void* context0, void* context1, void* context2)
    : m_code(code), m_context{context0, context1, context2} {
  m_inline[0] = '\0';
}

CJException::CJException(const CJException& other)
    : std::exception(other), m_code(other.m_code),
      m_context{other.m_context[0], other.m_context[1], other.m_context[2]} {
  m_inline[0] = '\0';
  if (other.m_message) SetMessage(other.m_message);
}

CJException::~CJException() {
  if (m_message && m_message != m_inline) delete[] m_message;
}

void CJException::SetMessage(const char* text) {
  if (m_message && m_message != m_inline) delete[] m_message;
  m_message = nullptr;
  const size_t length = std::strlen(text);
  if (length < sizeof m_inline) {
    std::memcpy(m_inline, text, length + 1);
    m_message = m_inline;
    return;
  }
  char* copy = new (std::nothrow) char[length + 1];
  if (copy) {
    std::memcpy(copy, text, length + 1);
    m_message = copy;
  } else {
    std::memcpy(m_inline, text, sizeof m_inline - 1);
    m_inline[sizeof m_inline - 1] = '\0';
    m_message = m_inline;
  }
}

const char* CJException::MessageText() {
  if (m_message) return m_message;
  m_message = m_inline;
  m_inline[0] = '\0';
  const MessageLookup lookup = CoreMessageModule();
  const char* text = lookup ? lookup(m_code) : nullptr;
  if (text) {
    std::snprintf(m_inline, sizeof m_inline, "%s", text);
    return m_message;
  }
  const char* templ = lookup ? lookup(0xFFFF) : nullptr;
  if (!templ) templ = "An undefined error has occured - %u";
  // A template is ours or a module's: only a %u is ever substituted.
  try {
    std::string format;
    for (const char* p = templ; *p; ++p) {
      if (*p == '%' && p[1] == 'u') {
        format += std::to_string(m_code);
        ++p;
      } else {
        format += *p;
      }
    }
    std::snprintf(m_inline, sizeof m_inline, "%s", format.c_str());
  } catch (...) {
    // Reached from what(), which must not throw: the message stays empty.
    m_inline[0] = '\0';
  }
  return m_message;
}

const char* CJException::what() const noexcept {
  return const_cast<CJException*>(this)->MessageText();
}

void CJException::Raise() const { throw CJException(*this); }

CoreResult::CoreResult(const CoreResult& other) { ShareResult(*this, other); }

CoreResult& CoreResult::operator=(const CoreResult& other) {
  if (this != &other) ShareResult(*this, other);
  return *this;
}

CoreResult& CoreResult::operator=(CoreResult&& other) {
  if (this != &other) {
    CJException* incoming = other.m_ptr;
    other.m_ptr = nullptr;
    CoreResult old;
    old.m_ptr = m_ptr;
    m_ptr = incoming;
    // `old` is released here and throws if it held an unexamined failure.
  }
  return *this;
}

CoreResult::~CoreResult() noexcept(false) { ReleaseResult(*this); }

CoreResult& SetResult(CoreResult& slot, uint32_t code, void* context0, void* context1,
                      void* context2) {
  if (slot.m_ptr) {
    CoreResultAccess::Disarm(slot.m_ptr);
    ReleaseResult(slot);
  }
  if (code == 0) return slot;
  CJException* object = NewResult(code, context0, context1, context2);
  if (object) {
    CoreResultAccess::Adopt(slot, object, true);
  } else {
    CoreResultAccess::Adopt(slot, &g_spareOutOfMemory, false);
  }
  return slot;
}

uint32_t ExamineResult(CoreResult& slot) {
  if (!slot.m_ptr) return 0;
  CoreResultAccess::Disarm(slot.m_ptr);
  return slot.m_ptr->Code();
}

CoreResult& ShareResult(CoreResult& slot, const CoreResult& other) {
  CJException* shared = other.m_ptr;
  if (shared) {
    CoreResultAccess::AddRef(shared);
    if (shared->Code() != 0) CoreResultAccess::Arm(shared);
  }
  CJException* old = slot.m_ptr;
  slot.m_ptr = shared;
  if (old) {
    CoreResult holder;
    *reinterpret_cast<CJException**>(&holder) = old;
  }
  return slot;
}

CoreResult& ResultFromException(CoreResult& slot, const CJException& caught) {
  // Copied before the slot lets go: `caught` may be the slot's own result.
  CJException* copy = g_allocationFails.load() ? nullptr : new (std::nothrow) CJException(caught);
  if (slot.m_ptr) {
    CoreResultAccess::Disarm(slot.m_ptr);
    ReleaseResult(slot);
  }
  if (copy) {
    CoreResultAccess::Adopt(slot, copy, true);
  } else {
    CoreResultAccess::Adopt(slot, &g_spareOutOfMemory, false);
  }
  return slot;
}

void ReleaseResult(CoreResult& slot) {
  CJException* object = slot.m_ptr;
  if (!object) return;
  slot.m_ptr = nullptr;
  CoreResultAccess::Release(object);
}

CoreResult MakeResult(uint32_t code) {
  CoreResult result;
  SetResult(result, code);
  return result;
}

void ThrowIfFailed(uint32_t code) {
  if (code != 0) throw CJException(code);
}

void ThrowIfFailed(CoreResult result) { ThrowIfFailed(ExamineResult(result)); }

void RegisterMessageModule(const char* name, MessageLookup lookup) {
  std::lock_guard<std::mutex> lock(g_modulesMutex);
  g_modules.push_back({name, lookup});
  g_cacheValid = false;
}

void UnregisterMessageModule(const char* name) {
  std::lock_guard<std::mutex> lock(g_modulesMutex);
  std::erase_if(g_modules, [&](const MessageModule& m) { return m.name == name; });
  g_cacheValid = false;
}

void SetResultAllocationFailsForTesting(bool fails) { g_allocationFails.store(fails); }
