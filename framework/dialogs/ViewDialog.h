// A resizable dialog that hosts an image view and a tool bar: it loads its
// title, icon and accelerator table, offers every command to the view
// first, sends the Ctrl key and the wheel to the view whenever the pointer
// is over it, and shows the zoom in its title.
#pragma once

#include <QIcon>
#include <QString>
#include <vector>

#include "framework/dialogs/Dialog.h"
#include "platform/ResourceFormats.h"

class QToolBar;
class QAction;
class QKeyEvent;
class QWheelEvent;

class IZoomListener {
 public:
  virtual ~IZoomListener() = default;
  virtual void OnZoomChanged(double newZoom, double oldZoom) = 0;
};

// What the dialog needs of the view it hosts.
class IDialogView {
 public:
  virtual ~IDialogView() = default;
  virtual QWidget* ViewWidget() = 0;
  virtual void SetZoomListener(IZoomListener* listener) = 0;
  virtual void OnInitialUpdate() = 0;
  // A command offered to the view; true when the view took it.
  virtual bool OnViewCommand(int id) = 0;
  // Whether the tool bar shows the command enabled and checked.
  virtual void UpdateViewCommand(int id, bool& enabled, bool& checked) = 0;
  virtual void OnViewCtrlKey(bool down) = 0;
  virtual void OnViewWheel(QWheelEvent* event) = 0;
};

class CViewDialog : public CDialog, public IZoomListener {
 public:
  // An accelerator id of 0 means none. The title is string `titleId`.
  CViewDialog(int templateId, int acceleratorId, int titleId, QWidget* parent = nullptr);
  ~CViewDialog() override;

  // Puts `view` in place of the placeholder control (same rectangle and
  // id), remembers its margins to the window's right and bottom edges, and
  // runs its initial update. False when the placeholder is missing.
  bool CreateView(int placeholderId, IDialogView* view);
  // The tool bar of resource `toolBarId`, laid out vertically at the
  // placeholder's top-left corner. False when a resource is missing.
  bool CreateToolBar(int toolBarId, int placeholderId);

  IDialogView* View() const { return m_view; }
  // Deletes the view's widget before the dialog's own members go.
  void DestroyView();
  QToolBar* ToolBar() const { return m_toolBar; }
  const QString& Title() const { return m_title; }

  // The title followed by " [50%]".
  void OnZoomChanged(double newZoom, double oldZoom) override;
  static QString ZoomPercent(double zoom);

  // Offers the command to the view, then to the dialog.
  void RouteCommand(int id);
  // The update pass of an idle moment: tool bar buttons, then the derived
  // dialog's own controls. It runs whenever the event loop is about to wait,
  // and after each input event of the dialog's windows (the loop need not
  // wait between two of them).
  void UpdateCommands();
  void RequestUpdatePass();

 protected:
  bool OnInitDialog() override;
  virtual void OnUpdateCommands() {}
  // The pointer came over a tool bar button with a status text (empty: it
  // left it).
  virtual void OnStatusTip(const QString& /*text*/) {}
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool IsOverView() const;

  int m_acceleratorId;
  int m_titleId;
  QString m_title;
  std::vector<CAccelerator> m_accelerators;
  IDialogView* m_view = nullptr;
  QToolBar* m_toolBar = nullptr;
  std::vector<std::pair<int, QAction*>> m_toolActions;
  bool m_updatePending = false;
  int m_viewRightMargin = 0;
  int m_viewBottomMargin = 0;
};

// The module's icon resource as a Qt icon (empty when missing).
QIcon LoadIconResource(int id);
