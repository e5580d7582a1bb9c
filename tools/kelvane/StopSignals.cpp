#include "StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

volatile sig_atomic_t g_stopSignal = 0;
int g_wakeWrite = -1;

extern "C" void NoteStopSignal(int signal) {
  const int savedErrno = errno;
  if (g_stopSignal == 0) g_stopSignal = signal;
  const char byte = 0;
  [[maybe_unused]] const ssize_t ignored = write(g_wakeWrite, &byte, 1);
  errno = savedErrno;
}

}  // namespace

CStopSignals::CStopSignals() {
  if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) m_wake[0] = m_wake[1] = -1;
  g_wakeWrite = m_wake[1];
  g_stopSignal = 0;
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], nullptr, &m_previous[i]);
    if (m_previous[i].sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(kStopSignals[i], &action, nullptr);
  }
}

CStopSignals::~CStopSignals() {
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], &m_previous[i], nullptr);
  }
  g_wakeWrite = -1;
  for (const int end : m_wake) {
    if (end >= 0) close(end);
  }
}

int CStopSignals::Received() const { return g_stopSignal; }

void CStopSignals::Drain() const {
  char bytes[64];
  while (m_wake[0] >= 0 && read(m_wake[0], bytes, sizeof bytes) > 0) {
  }
}

void ResetStopSignalsInChild() {
  for (const int signal : kStopSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == NoteStopSignal) {
      ::signal(signal, SIG_DFL);
    }
  }
}
