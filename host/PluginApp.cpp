#include "PluginApp.h"

#include "imagecore/CoreStartup.h"

namespace {

void SetRect(VRect& rect, int16_t top, int16_t left, int16_t bottom, int16_t right) {
  rect.top = top;
  rect.left = left;
  rect.bottom = bottom;
  rect.right = right;
}

}  // namespace

CPluginApp::CPluginApp() : CWinApp(nullptr) {}

bool CPluginApp::InitInstance() {
  // A failed start leaves a code nobody can act on; the first use of the
  // core reports its own failure.
  (void)CoreStartup();
  return CWinApp::InitInstance();
}

int CPluginApp::ExitInstance() {
  // The last run's layer goes while the core can still release it.
  m_image.GetImage()->Reset();
  CoreShutdown();
  return CWinApp::ExitInstance();
}

int16_t CPluginApp::OnAbout(FilterRecord*, intptr_t*) { return noErr; }

int16_t CPluginApp::OnParameters(FilterRecord* record, intptr_t*) {
  const int16_t height = record->imageSize.v;
  const int16_t width = record->imageSize.h;
  SetRect(record->inRect, 0, 0, height, width);
  SetRect(record->outRect, 0, 0, height, width);
  SetRect(record->maskRect, 0, 0, height, width);
  record->inLoPlane = 0;
  record->outLoPlane = 0;
  record->inHiPlane = static_cast<int16_t>(record->planes - 1);
  record->outHiPlane = static_cast<int16_t>(record->planes - 1);
  return noErr;
}

int16_t CPluginApp::OnPrepare(FilterRecord*, intptr_t*) { return noErr; }

int16_t CPluginApp::OnStart(FilterRecord*, intptr_t*) { return noErr; }

int16_t CPluginApp::OnContinue(FilterRecord* record, intptr_t*) {
  // Empty rectangles tell the host that this one call is the whole run.
  SetRect(record->inRect, 0, 0, 0, 0);
  SetRect(record->outRect, 0, 0, 0, 0);
  SetRect(record->maskRect, 0, 0, 0, 0);
  if (!CheckImage(record, record->platformData)) return userCanceledErr;
  m_image.m_filterRecord = record;
  m_image.ReadHostRows(record->inData, record->imageSize.h, record->imageSize.v,
                       record->inRowBytes, record->planes);
  if (!RunEditor()) return userCanceledErr;
  m_image.WriteHostRows(record->outData, record->imageSize.h, record->imageSize.v,
                        record->outRowBytes, record->planes);
  return noErr;
}

int16_t CPluginApp::OnFinish(FilterRecord*, intptr_t*) { return noErr; }

bool CPluginApp::CheckImage(FilterRecord* record, void*) {
  return record->imageMode == plugInModeGrayScale || record->imageMode == plugInModeRGBColor;
}

bool CPluginApp::RunEditor() { return true; }
