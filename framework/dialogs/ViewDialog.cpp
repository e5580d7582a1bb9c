#include "framework/dialogs/ViewDialog.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QKeyEvent>
#include <QPixmap>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QWheelEvent>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/Resources.h"

namespace {

QPixmap PngPixmap(std::span<const uint8_t> png) {
  QPixmap pixmap;
  pixmap.loadFromData(png.data(), static_cast<uint>(png.size()), "PNG");
  return pixmap;
}

// The tool bar bitmap (a packed bitmap resource) as a Qt image.
QImage BitmapResource(int id) {
  const std::span<const uint8_t> bytes = FindResource(RT_BITMAP, id);
  if (bytes.size() < 40) return QImage();
  // Qt reads a bitmap file, which is the packed bitmap behind a 14-byte header.
  QByteArray file(14, '\0');
  file[0] = 'B';
  file[1] = 'M';
  const uint32_t total = static_cast<uint32_t>(14 + bytes.size());
  uint32_t headerSize = 0;
  std::memcpy(&headerSize, bytes.data(), 4);
  uint16_t bitCount = 0;
  std::memcpy(&bitCount, bytes.data() + 14, 2);
  uint32_t coloursUsed = 0;
  std::memcpy(&coloursUsed, bytes.data() + 32, 4);
  const uint32_t paletteEntries = bitCount <= 8 ? (coloursUsed ? coloursUsed : 1u << bitCount) : 0;
  const uint32_t bitsOffset = 14 + headerSize + 4 * paletteEntries;
  std::memcpy(file.data() + 2, &total, 4);
  std::memcpy(file.data() + 10, &bitsOffset, 4);
  file.append(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
  QImage image;
  image.loadFromData(file, "BMP");
  return image;
}

}  // namespace

QIcon LoadIconResource(int id) {
  const std::span<const uint8_t> bytes = FindResource(RT_ICON, id);
  std::vector<CIconPicture> pictures;
  QIcon icon;
  if (!ParseIconDirectory(bytes, false, pictures)) return icon;
  for (const CIconPicture& picture : pictures) icon.addPixmap(PngPixmap(picture.png));
  return icon;
}

CViewDialog::CViewDialog(int templateId, int acceleratorId, int titleId, QWidget* parent)
    : CDialog(templateId, parent), m_acceleratorId(acceleratorId), m_titleId(titleId) {
  std::string title;
  if (LoadString(titleId, title)) m_title = QString::fromStdString(title);
  if (acceleratorId != 0) LoadAcceleratorTable(acceleratorId, m_accelerators);
  setWindowIcon(LoadIconResource(128));
  setSizeGripEnabled(false);
  qApp->installEventFilter(this);
  // The update pass runs each time the event loop is about to wait.
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
            [this] { UpdateCommands(); });
  }
}

CViewDialog::~CViewDialog() { qApp->removeEventFilter(this); }

bool CViewDialog::OnInitDialog() {
  setWindowTitle(m_title);
  return true;
}

bool CViewDialog::CreateView(int placeholderId, IDialogView* view) {
  QWidget* placeholder = GetDlgItem(placeholderId);
  if (!placeholder || !view) return false;
  const QRect place = placeholder->geometry();
  m_viewRightMargin = width() - place.right() - 1;
  m_viewBottomMargin = height() - place.bottom() - 1;
  DestroyDlgItem(placeholderId);
  QWidget* widget = view->ViewWidget();
  widget->setParent(this);
  widget->setGeometry(place);
  widget->setObjectName(QString::number(placeholderId));
  SetDlgItem(placeholderId, widget);
  m_view = view;
  view->SetZoomListener(this);
  widget->show();
  view->OnInitialUpdate();
  return true;
}

void CViewDialog::DestroyView() {
  if (!m_view) return;
  QWidget* widget = m_view->ViewWidget();
  m_view = nullptr;
  for (int id : {widget->objectName().toInt()}) {
    if (GetDlgItem(id) == widget) SetDlgItem(id, nullptr);
  }
  delete widget;
}

bool CViewDialog::CreateToolBar(int toolBarId, int placeholderId) {
  CToolBarResource resource;
  QWidget* placeholder = GetDlgItem(placeholderId);
  if (!placeholder || !LoadToolBar(toolBarId, resource)) return false;
  const QImage strip = BitmapResource(resource.bitmapId);
  if (strip.isNull()) return false;
  m_toolBar = new QToolBar(this);
  m_toolBar->setOrientation(Qt::Vertical);
  m_toolBar->setIconSize(QSize(resource.buttonWidth, resource.buttonHeight));
  m_toolBar->setMovable(false);
  m_toolBar->setFloatable(false);
  for (size_t item = 0; item < resource.items.size(); ++item) {
    const int command = resource.items[item];
    if (command == 0) {
      m_toolBar->addSeparator();
      continue;
    }
    QImage picture = strip.copy(resource.ImageIndex(item) * resource.buttonWidth, 0,
                                resource.buttonWidth, resource.buttonHeight)
                         .convertToFormat(QImage::Format_ARGB32);
    if (resource.hasTransparent) {
      const QRgb key = qRgb(resource.transparentRed, resource.transparentGreen,
                            resource.transparentBlue);
      for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
          if ((line[x] & 0xFFFFFF) == (key & 0xFFFFFF)) line[x] = 0;
        }
      }
    }
    std::string tip;
    LoadString(command, tip);
    // Two lines: the status text, then the tool tip.
    const size_t lineBreak = tip.find('\n');
    const std::string toolTip = lineBreak == std::string::npos ? tip : tip.substr(lineBreak + 1);
    QAction* action = m_toolBar->addAction(QIcon(QPixmap::fromImage(picture)),
                                           QString::fromStdString(toolTip));
    action->setToolTip(QString::fromStdString(toolTip));
    if (lineBreak != std::string::npos) {
      action->setStatusTip(QString::fromStdString(tip.substr(0, lineBreak)));
    }
    action->setData(command);
    connect(action, &QAction::triggered, this, [this, command] { RouteCommand(command); });
    m_toolActions.emplace_back(command, action);
  }
  m_toolBar->move(placeholder->geometry().topLeft());
  m_toolBar->adjustSize();
  m_toolBar->show();
  return true;
}

QString CViewDialog::ZoomPercent(double zoom) {
  return QString::asprintf("%d%%", static_cast<int>(std::trunc(zoom * 100.0)));
}

void CViewDialog::OnZoomChanged(double newZoom, double) {
  setWindowTitle(m_title + " [" + ZoomPercent(newZoom) + "]");
}

bool CViewDialog::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    OnStatusTip(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return CDialog::event(event);
}

void CViewDialog::RouteCommand(int id) {
  if (m_view && m_view->OnViewCommand(id)) return;
  OnCommand(id);
}

void CViewDialog::RequestUpdatePass() {
  if (m_updatePending) return;
  m_updatePending = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        m_updatePending = false;
        UpdateCommands();
      },
      Qt::QueuedConnection);
}

void CViewDialog::UpdateCommands() {
  if (!isVisible()) return;
  for (const auto& [command, action] : m_toolActions) {
    bool enabled = true;
    bool checked = false;
    if (m_view) m_view->UpdateViewCommand(command, enabled, checked);
    action->setEnabled(enabled);
    action->setCheckable(checked || action->isCheckable());
    action->setChecked(checked);
  }
  OnUpdateCommands();
}

bool CViewDialog::IsOverView() const {
  if (!m_view) return false;
  QWidget* view = m_view->ViewWidget();
  return view->isVisible() && view->rect().contains(view->mapFromGlobal(QCursor::pos()));
}

bool CViewDialog::eventFilter(QObject* watched, QEvent* event) {
  // Only what reaches this dialog's own windows.
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this) {
    return CDialog::eventFilter(watched, event);
  }
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::KeyRelease:
      RequestUpdatePass();
      break;
    default:
      break;
  }
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Control && IsOverView()) {
        if (!key->isAutoRepeat() || event->type() == QEvent::KeyPress) {
          m_view->OnViewCtrlKey(event->type() == QEvent::KeyPress);
        }
        return true;
      }
      // The table is tried once per key message, so one "+" is one step.
      if (event->type() == QEvent::KeyPress && key->text().size() == 1 &&
          !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        const int command = TranslateAccelerator(m_accelerators, key->text().at(0).unicode());
        if (command != 0) {
          RouteCommand(command);
          return true;
        }
      }
      break;
    }
    case QEvent::Wheel:
      if (IsOverView()) {
        m_view->OnViewWheel(static_cast<QWheelEvent*>(event));
        return true;
      }
      break;
    default:
      break;
  }
  return CDialog::eventFilter(watched, event);
}
