#include "framework/dialogs/ProcessDialog.h"

#include <QProgressBar>

CProcessDialog::CProcessDialog(int templateId, int progressId, int acceleratorId, int titleId,
                               QWidget* parent)
    : CViewDialog(templateId, acceleratorId, titleId, parent), m_progressId(progressId) {
  m_window.SetMessageHandler([this](const CWindowMessage& message) { OnRunMessage(message); });
  m_runTimer.setSingleShot(true);
  connect(&m_runTimer, &QTimer::timeout, this, [this] {
    auto start = std::move(m_pendingStart);
    m_pendingStart = nullptr;
    if (start) start();
  });
}

CProcessDialog::~CProcessDialog() = default;

bool CProcessDialog::OnInitDialog() {
  CViewDialog::OnInitDialog();
  // A fresh bar in the placeholder's rectangle, under the same id.
  if (QWidget* placeholder = GetDlgItem(m_progressId)) {
    const QRect place = placeholder->geometry();
    DestroyDlgItem(m_progressId);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    m_progress->setGeometry(place);
    m_progress->setObjectName(QString::number(m_progressId));
    m_progress->show();
    SetDlgItem(m_progressId, m_progress);
  }
  return true;
}

void CProcessDialog::SetProgress(int percent) {
  if (m_progress) m_progress->setValue(percent);
}

void CProcessDialog::RequestRun(bool delayed, std::function<void()> start) {
  m_runTimer.stop();
  if (!delayed) {
    m_pendingStart = nullptr;
    if (start) start();
    return;
  }
  m_pendingStart = std::move(start);
  m_runTimer.start(kRunTimerMilliseconds);
}
