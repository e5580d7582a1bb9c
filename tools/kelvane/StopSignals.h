// A batch's handling of the signals that stop it: the handler only notes the
// signal and wakes the batch's wait, and the batch stops its pictures.
#pragma once

#include <csignal>
#include <iterator>

// Ctrl-C, a polite kill, and the terminal going away.
inline constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// While alive, the stop signals are noted rather than ending the process;
// a signal ignored when it was made stays ignored, in the children too. One
// at a time.
class CStopSignals {
 public:
  CStopSignals();
  ~CStopSignals();
  CStopSignals(const CStopSignals&) = delete;
  CStopSignals& operator=(const CStopSignals&) = delete;

  // The first stop signal received, or 0.
  int Received() const;
  // Readable once a signal came: to be polled with the children's pipes.
  // -1 when no pipe could be made; a signal is then seen on the next turn.
  int WakeDescriptor() const { return m_wake[0]; }
  void Drain() const;

 private:
  int m_wake[2] = {-1, -1};
  struct sigaction m_previous[std::size(kStopSignals)] {};
};

// In a child between fork and exec, so async-signal-safe: the stop signals
// this process notes go back to ending it.
void ResetStopSignalsInChild();
