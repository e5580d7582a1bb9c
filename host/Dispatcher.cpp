#include "Dispatcher.h"

#include <cxxabi.h>

#include <exception>
#include <new>
#include <string>

#include "host/PluginApp.h"
#include "imagecore/CoreResult.h"
#include "platform/MessageBox.h"

namespace {

using Handler = int16_t (CPluginApp::*)(FilterRecord*, intptr_t*);

Handler HandlerFor(int16_t selector) {
  switch (selector) {
    case filterSelectorAbout: return &CPluginApp::OnAbout;
    case filterSelectorParameters: return &CPluginApp::OnParameters;
    case filterSelectorPrepare: return &CPluginApp::OnPrepare;
    case filterSelectorStart: return &CPluginApp::OnStart;
    case filterSelectorContinue: return &CPluginApp::OnContinue;
    case filterSelectorFinish: return &CPluginApp::OnFinish;
    default: return nullptr;
  }
}

// The host only knows noErr and userCanceledErr from this filter; the box
// is the one place the user learns why the layer stayed as it was.
void ReportFailure(const std::string& what, const std::string& code) {
  std::string text = "The filter stopped because of a failure:\n" + what;
  if (!code.empty()) text += " (error " + code + ")";
  text += "\nThe image was left unchanged.";
  try {
    MessageBox(nullptr, text, "! Kelvane Error !", MB_OK | MB_ICONERROR);
  } catch (...) {
    // Without memory even for the box there is nobody left to tell.
  }
}

}  // namespace

void DispatchSelector(CPluginApp& app, int16_t selector, FilterRecord* record, intptr_t* data,
                      int16_t* result) {
  const Handler handler = HandlerFor(selector);
  if (!handler) return;
  int16_t answer = userCanceledErr;
  try {
    answer = (app.*handler)(record, data);
  } catch (abi::__forced_unwind&) {
    throw;  // thread cancellation must be allowed to finish
  } catch (CJException& failure) {
    ReportFailure(failure.MessageText(), std::to_string(failure.Code()));
  } catch (const std::bad_alloc&) {
    ReportFailure("out of memory", std::to_string(keErrOutOfMemory));
  } catch (const std::exception& failure) {
    ReportFailure(failure.what(), std::string());
  } catch (...) {
    ReportFailure("an unknown exception", std::string());
  }
  if (result) *result = answer;
}
