#include "FilterHost.h"

#include <dlfcn.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/VirtualMemory.h"

namespace {

bool IsEmpty(const VRect& rect) { return rect.bottom <= rect.top || rect.right <= rect.left; }

bool Inside(const VRect& rect, const CHostLayer& layer) {
  return rect.top >= 0 && rect.left >= 0 && rect.bottom <= layer.height &&
         rect.right <= layer.width;
}

// One requested piece of the layer. With every plane requested the source
// is the layer's own rows, seen in place; otherwise, and for a destination,
// the piece is a buffer of its own holding the layer's pixels.
struct CPiece {
  VRect rect{};
  int lo = 0;
  int count = 0;
  int32_t rowBytes = 0;
  uint8_t* data = nullptr;
  std::vector<uint8_t> bytes;
};

bool AllPlanes(const CPiece& piece, const CHostLayer& layer) {
  return piece.lo == 0 && piece.count == layer.planes;
}

bool WholeLayer(const CPiece& piece, const CHostLayer& layer) {
  return piece.rect.top == 0 && piece.rect.left == 0 && piece.rect.bottom == layer.height &&
         piece.rect.right == layer.width;
}

size_t LayerOffset(const CHostLayer& layer, int x, int y) {
  return (static_cast<size_t>(y) * static_cast<size_t>(layer.width) + static_cast<size_t>(x)) *
         static_cast<size_t>(layer.planes);
}

bool MakePiece(const VRect& rect, int16_t lo, int16_t hi, CHostLayer& layer, bool inPlace,
               CPiece& piece, std::string& error, const char* what) {
  piece = CPiece();
  if (IsEmpty(rect)) return true;
  if (!Inside(rect, layer)) {
    error = std::string("the filter asked for a ") + what + " rectangle outside the image";
    return false;
  }
  if (lo < 0 || hi < lo || hi >= layer.planes) {
    error = std::string("the filter asked for ") + what + " planes the image does not have";
    return false;
  }
  piece.rect = rect;
  piece.lo = lo;
  piece.count = hi - lo + 1;
  const int width = rect.right - rect.left;
  const size_t height = static_cast<size_t>(rect.bottom - rect.top);
  if (AllPlanes(piece, layer)) {
    if (inPlace) {
      piece.rowBytes = layer.width * layer.planes;
      piece.data = layer.bytes.data() + LayerOffset(layer, rect.left, rect.top);
      return true;
    }
    // Whole rows copied at once; reserving first spares a pass of zeros.
    piece.rowBytes = width * piece.count;
    const size_t rowBytes = static_cast<size_t>(piece.rowBytes);
    piece.bytes.reserve(rowBytes * height);
    AdviseHugePages(piece.bytes.data(), rowBytes * height);
    PrefaultForWriting(piece.bytes.data(), rowBytes * height);
    for (int y = rect.top; y < rect.bottom; ++y) {
      const auto from = layer.bytes.begin() + static_cast<ptrdiff_t>(LayerOffset(layer, rect.left, y));
      piece.bytes.insert(piece.bytes.end(), from, from + static_cast<ptrdiff_t>(rowBytes));
    }
    piece.data = piece.bytes.data();
    return true;
  }
  piece.rowBytes = width * piece.count;
  piece.bytes.resize(static_cast<size_t>(piece.rowBytes) * height);
  uint8_t* to = piece.bytes.data();
  for (int y = rect.top; y < rect.bottom; ++y) {
    const uint8_t* from = layer.bytes.data() + LayerOffset(layer, rect.left, y) + lo;
    for (int x = 0; x < width; ++x, from += layer.planes, to += piece.count) {
      std::memcpy(to, from, static_cast<size_t>(piece.count));
    }
  }
  piece.data = piece.bytes.data();
  return true;
}

// The piece's buffer may be taken over by the layer, so it is left empty.
void StorePiece(CPiece& piece, CHostLayer& layer) {
  if (!piece.data) return;
  const int width = piece.rect.right - piece.rect.left;
  if (AllPlanes(piece, layer)) {
    if (WholeLayer(piece, layer)) {
      layer.bytes.swap(piece.bytes);
    } else {
      const size_t rowBytes = static_cast<size_t>(piece.rowBytes);
      const uint8_t* from = piece.data;
      for (int y = piece.rect.top; y < piece.rect.bottom; ++y, from += rowBytes) {
        std::memcpy(layer.bytes.data() + LayerOffset(layer, piece.rect.left, y), from, rowBytes);
      }
    }
    piece = CPiece();
    return;
  }
  const uint8_t* from = piece.data;
  for (int y = piece.rect.top; y < piece.rect.bottom; ++y) {
    uint8_t* to = layer.bytes.data() + LayerOffset(layer, piece.rect.left, y) + piece.lo;
    for (int x = 0; x < width; ++x, to += layer.planes, from += piece.count) {
      std::memcpy(to, from, static_cast<size_t>(piece.count));
    }
  }
  piece = CPiece();
}

// A filter that never stops asking would hang the host for good.
constexpr int kMaxContinueCalls = 1 << 20;

}  // namespace

KelvanePlatformData HostPlatformData() {
  KelvanePlatformData data{};
  data.size = sizeof data;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  data.hasDisplay = (x11 && *x11) || (wayland && *wayland);
  data.scriptPath = nullptr;
  data.scriptText = nullptr;
  data.showPresets = 0;
  data.scriptStatus = 0;
  return data;
}

CFilterModule::~CFilterModule() {
  if (m_handle) dlclose(m_handle);
}

bool CFilterModule::Load(const std::string& path, const std::string& entryPoint,
                         std::string& error) {
  // The module keeps its own symbols to itself: local binding. It stays
  // mapped after the host lets it go, as an editor keeps its plug-ins: the
  // libraries it brings (the widget toolkit) keep state of their own until
  // the process ends.
  m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!m_handle) {
    const char* why = dlerror();
    error = "cannot load " + path + ": " + (why ? why : "unknown reason");
    return false;
  }
  const std::string name = entryPoint.empty() ? "ENTRYPOINT" : entryPoint;
  void* symbol = dlsym(m_handle, name.c_str());
  if (!symbol) {
    error = path + " does not export " + name;
    dlclose(m_handle);
    m_handle = nullptr;
    return false;
  }
  m_entry = reinterpret_cast<FilterEntryProc>(symbol);
  return true;
}

CFilterOutcome RunFilter(FilterEntryProc entry, CHostLayer& layer, KelvanePlatformData& platform) {
  CFilterOutcome outcome;
  FilterRecord record{};
  record.imageSize.v = static_cast<int16_t>(layer.height);
  record.imageSize.h = static_cast<int16_t>(layer.width);
  record.planes = static_cast<int16_t>(layer.planes);
  record.imageMode = layer.imageMode;
  // No selection: the filter area is the whole layer.
  record.filterRect = VRect{0, 0, static_cast<int16_t>(layer.height),
                            static_cast<int16_t>(layer.width)};
  record.platformData = &platform;
  intptr_t data = 0;

  auto call = [&](int16_t selector) {
    int16_t result = noErr;
    entry(selector, &record, &data, &result);
    return result;
  };

  outcome.result = call(filterSelectorParameters);
  if (outcome.result != noErr) return outcome;
  outcome.result = call(filterSelectorPrepare);
  if (outcome.result != noErr) return outcome;
  outcome.result = call(filterSelectorStart);
  if (outcome.result != noErr) return outcome;

  CPiece in;
  CPiece out;
  for (int calls = 0;
       !IsEmpty(record.inRect) || !IsEmpty(record.outRect) || !IsEmpty(record.maskRect);
       ++calls) {
    if (calls == kMaxContinueCalls) {
      outcome.hostFailed = true;
      outcome.message = "the filter kept asking for data";
      break;
    }
    // The source is only read, and the layer changes only after Continue,
    // so the source can be the layer itself.
    if (!MakePiece(record.inRect, record.inLoPlane, record.inHiPlane, layer, true, in,
                   outcome.message, "source") ||
        !MakePiece(record.outRect, record.outLoPlane, record.outHiPlane, layer, false, out,
                   outcome.message, "destination")) {
      outcome.hostFailed = true;
      break;
    }
    // There is no selection, so a mask request gets no data, only a check.
    if (!IsEmpty(record.maskRect) && !Inside(record.maskRect, layer)) {
      outcome.hostFailed = true;
      outcome.message = "the filter asked for a mask rectangle outside the image";
      break;
    }
    record.inData = in.data;
    record.inRowBytes = in.rowBytes;
    record.outData = out.data;
    record.outRowBytes = out.rowBytes;
    outcome.result = call(filterSelectorContinue);
    record.inData = nullptr;
    record.outData = nullptr;
    if (outcome.result != noErr) break;
    StorePiece(out, layer);
  }

  // Finish follows a successful Start, even when Continue failed.
  const int16_t finished = call(filterSelectorFinish);
  if (outcome.result == noErr && !outcome.hostFailed) outcome.result = finished;
  return outcome;
}
