// The application object behind the entry point: one handler per selector,
// the image check and the run of the editor.
#pragma once

#include <cstdint>

#include "host/ImageHolder.h"
#include "platform/HostInterface.h"
#include "platform/WinApp.h"

class CPluginApp : public CWinApp {
 public:
  CPluginApp();

  // Starts the imaging core before the framework, stops it before the
  // framework's own shutdown.
  bool InitInstance() override;
  int ExitInstance() override;

  virtual int16_t OnAbout(FilterRecord* record, intptr_t* data);
  // Asks for the whole layer, all planes, in one piece.
  virtual int16_t OnParameters(FilterRecord* record, intptr_t* data);
  virtual int16_t OnPrepare(FilterRecord* record, intptr_t* data);
  virtual int16_t OnStart(FilterRecord* record, intptr_t* data);
  // The whole run: check, read the layer, edit, write it back.
  virtual int16_t OnContinue(FilterRecord* record, intptr_t* data);
  virtual int16_t OnFinish(FilterRecord* record, intptr_t* data);
  // Grayscale and RGB layers, any plane count.
  virtual bool CheckImage(FilterRecord* record, void* platformData);
  // No interaction: the layer goes back as it came.
  virtual bool RunEditor();

  CImageHolder m_image;
};
