#include "BatchRun.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include "platform/AtomicFile.h"
#include "tools/filterhost/ModuleRun.h"
#include "tools/kelvane/HostMessages.h"
#include "tools/kelvane/HostProgram.h"
#include "tools/kelvane/PictureReader.h"
#include "tools/kelvane/PictureWriter.h"
#include "tools/kelvane/PictureLimits.h"
#include "tools/kelvane/ScriptFile.h"
#include "tools/kelvane/StopSignals.h"

namespace fs = std::filesystem;

namespace {

bool IsHidden(const fs::path& path) {
  const std::string name = path.filename().string();
  return !name.empty() && name[0] == '.';
}

fs::path Canonical(const fs::path& path) {
  std::error_code failed;
  fs::path canonical = fs::weakly_canonical(path, failed);
  return failed ? fs::absolute(path).lexically_normal() : canonical;
}

// Whether `folder` lies below `outer`; both canonical.
bool IsInside(const fs::path& folder, const fs::path& outer) {
  const fs::path relative = folder.lexically_relative(outer);
  return !relative.empty() && *relative.begin() != "..";
}

// The pictures below `folder`, as paths inside it. The result folder, which
// can only be a subfolder left out of a batch that does not descend, is not
// counted among the folders skipped. Symbolic links to folders are not followed: they can loop.
// `skipped` counts the folders that only `recursive` would have entered.
bool ListFolder(const fs::path& folder, const fs::path& inside, bool recursive,
                const fs::path& resultFolder, std::vector<fs::path>& found, size_t& skipped,
                std::string& error) {
  std::error_code failed;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(folder / inside, failed), end; !failed && it != end;
       it.increment(failed)) {
    if (!IsHidden(it->path())) entries.push_back(*it);
  }
  if (failed) {
    // A batch that quietly leaves out a folder would look complete.
    error = "cannot read the folder " + Quoted(folder / inside) + ": " + failed.message();
    return false;
  }
  for (const fs::directory_entry& entry : entries) {
    std::error_code unknown;
    const fs::path name = inside / entry.path().filename();
    if (entry.is_directory(unknown)) {
      if (entry.is_symlink(unknown) || Canonical(entry.path()) == resultFolder) continue;
      if (!recursive) {
        ++skipped;
        continue;
      }
      if (!ListFolder(folder, name, recursive, resultFolder, found, skipped, error)) return false;
    } else if (entry.is_regular_file(unknown) && IsPictureFile(entry.path().string())) {
      found.push_back(name);
    }
  }
  return true;
}

}  // namespace

bool CollectBatch(const CHostOptions& options, std::vector<CBatchPicture>& pictures,
                  std::string& error, size_t* skippedFolders) {
  pictures.clear();
  size_t skipped = 0;
  const fs::path outDir(options.outDir);
  const fs::path resultFolder = Canonical(outDir);
  const std::string ending = "." + OutputFormatOf(options, std::string());
  std::set<fs::path> inputs;            // canonical
  std::map<fs::path, size_t> byResult;  // canonical result -> picture

  auto add = [&](const fs::path& input, const fs::path& inside) {
    if (!inputs.insert(Canonical(input)).second) return true;  // named twice
    fs::path name = inside.filename().stem();
    name += ending;
    const fs::path output = (outDir / inside.parent_path() / name).lexically_normal();
    if (const int failure = CheckNewFileName(output.string()); failure != 0) {
      error = "cannot write " + Quoted(output) + " for " + Quoted(input) + ": " +
              std::strerror(failure);
      return false;
    }
    const auto [at, added] = byResult.emplace(Canonical(output), pictures.size());
    if (!added) {
      error = Quoted(pictures[at->second].input) + " and " + Quoted(input) +
              " would both be written to " + Quoted(output);
      return false;
    }
    pictures.push_back(CBatchPicture{input.string(), output.string()});
    return true;
  };

  for (const std::string& named : options.inputs) {
    const fs::path input(named);
    std::error_code failed;
    const fs::file_status status = fs::status(input, failed);
    if (!fs::exists(status)) {
      error = "cannot read " + Quoted(input) + ": " +
              (failed ? failed.message() : std::string(std::strerror(ENOENT)));
      return false;
    }
    if (!fs::is_directory(status)) {
      if (!add(input, input.filename())) return false;
      continue;
    }
    // Results beside their pictures work once: the next run finds each
    // result as a picture of its own, or would write a result over it.
    if (Canonical(input) == resultFolder) {
      error = "will not write the results into " + Quoted(input) +
              ", a folder of the pictures: there the next run would take them for pictures, "
              "or replace them with results; choose another --out-dir";
      return false;
    }
    if (options.recursive && IsInside(resultFolder, Canonical(input))) {
      error = "will not write the results into " + Quoted(outDir) + ", inside " + Quoted(input) +
              ", which --recursive descends into: there the next run would take them for "
              "pictures; choose an --out-dir outside it";
      return false;
    }
    std::vector<fs::path> found;
    if (!ListFolder(input, fs::path(), options.recursive, resultFolder, found, skipped, error)) {
      return false;
    }
    std::sort(found.begin(), found.end());
    for (const fs::path& inside : found) {
      if (!add(input / inside, inside)) return false;
    }
  }

  // A result written over a picture of the batch would destroy it.
  for (const auto& [result, index] : byResult) {
    if (inputs.count(result)) {
      error = "the result of " + Quoted(pictures[index].input) + " would replace the picture " +
              Quoted(pictures[index].output);
      return false;
    }
  }
  if (skippedFolders) *skippedFolders = skipped;
  return true;
}

bool CheckExistingResults(const CHostOptions& options, const std::vector<CBatchPicture>& pictures,
                          std::string& error) {
  if (options.overwrite || options.skipExisting) return true;
  size_t existing = 0;
  const CBatchPicture* first = nullptr;
  for (const CBatchPicture& picture : pictures) {
    struct stat info {};
    if (lstat(picture.output.c_str(), &info) != 0) continue;
    if (!first) first = &picture;
    ++existing;
  }
  if (existing == 0) return true;
  error = std::to_string(existing) + " of the " + std::to_string(pictures.size()) +
          " results exist already (" + Quoted(first->output) +
          (existing > 1 ? " and others" : "") +
          "); --overwrite replaces them, --skip-existing skips their pictures";
  return false;
}

bool ResultIsCurrent(const std::string& input, const std::string& output) {
  std::error_code failed;
  if (!fs::is_regular_file(output, failed)) return false;
  const fs::file_time_type written = fs::last_write_time(output, failed);
  if (failed) return false;
  const fs::file_time_type changed = fs::last_write_time(input, failed);
  return !failed && written > changed;
}

std::vector<std::string> ChildArguments(const CHostOptions& options,
                                        const CBatchPicture& picture, int threads,
                                        uint64_t memoryShare) {
  CHostOptions child = options;
  child.threads = threads;
  child.memoryShare = memoryShare;
  std::vector<std::string> arguments = ArgumentsForEachPicture(child);
  // A picture whose name begins with '-' must not read as an option.
  arguments.push_back("--");
  arguments.push_back(picture.input);
  arguments.push_back(picture.output);
  return arguments;
}

uint64_t MemoryPerJob(uint64_t available, size_t jobs) {
  // At least one byte: a share of 0 would read as no share at all.
  return jobs > 1 ? std::max<uint64_t>(available / jobs, 1) : 0;
}

int ThreadsPerJob(const CHostOptions& options, long cores, size_t jobs) {
  if (options.threads > 0) return options.threads;
  const long share = cores / static_cast<long>(std::max<size_t>(jobs, 1));
  return static_cast<int>(std::clamp(share, 1L, 256L));
}

std::string ProgressText(size_t done, size_t total, size_t failed, size_t ran, double seconds) {
  char text[128];
  int length = std::snprintf(text, sizeof text, "%zu/%zu done, %zu failed", done, total, failed);
  if (ran > 0 && seconds > 0) {
    std::snprintf(text + length, sizeof text - static_cast<size_t>(length), ", %.1f pictures/s",
                  static_cast<double>(ran) / seconds);
  }
  return text;
}

std::string FailureLine(const std::string& input, const std::string& reason) {
  // Most reasons a picture's process gives name the picture already.
  if (reason.find(Quoted(input)) != std::string::npos) return reason;
  return input + ": " + reason;
}

std::string FailureReason(int waitStatus, const std::string& standardError) {
  if (WIFSIGNALED(waitStatus)) {
    return std::string("crashed (") + strsignal(WTERMSIG(waitStatus)) + ")";
  }
  if (WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0) return std::string();
  constexpr std::string_view kPrefix = "kelvane: ";
  constexpr const char* kSpace = " \t\r\n";
  size_t end = standardError.size();
  while (end > 0) {
    const size_t newline = standardError.rfind('\n', end - 1);
    const size_t start = newline == std::string::npos ? 0 : newline + 1;
    std::string line = standardError.substr(start, end - start);
    end = newline == std::string::npos ? 0 : newline;
    const size_t first = line.find_first_not_of(kSpace);
    if (first == std::string::npos) continue;
    line = line.substr(first, line.find_last_not_of(kSpace) + 1 - first);
    if (line.compare(0, kPrefix.size(), kPrefix) == 0) line.erase(0, kPrefix.size());
    // After a script error or a failed run the program only adds that
    // nothing was written; the reason stands on the line before.
    if (line == "nothing was written") continue;
    if (!line.empty()) return line;
  }
  return WIFEXITED(waitStatus) ? "exit status " + std::to_string(WEXITSTATUS(waitStatus))
                               : std::string("ended abnormally");
}

namespace {

using CClock = std::chrono::steady_clock;

// Enough of a process's standard error to find its last words.
constexpr size_t kKeptErrorBytes = 16 * 1024;

// Pictures whose script warnings are passed on; a batch of thousands with
// the same warnings must not flood the terminal.
constexpr size_t kPicturesWarnedOf = 3;

// A child still running this long after the stop was forwarded is killed.
constexpr auto kStopGrace = std::chrono::seconds(5);

// What a process that ended without success may have left of its result:
// where the file system has no unnamed files, a named temporary file beside
// it, which a kill gave no chance to remove.
void RemoveTemporaries(const std::string& output) {
  const fs::path target(output);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const std::string prefix = TemporaryNamePrefix(output);
  constexpr size_t kRandom = 6;
  std::error_code failed;
  for (fs::directory_iterator it(folder, failed), end; !failed && it != end;
       it.increment(failed)) {
    const std::string name = it->path().filename().string();
    if (name.size() != prefix.size() + kRandom || name.compare(0, prefix.size(), prefix) != 0 ||
        !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; })) {
      continue;
    }
    std::error_code ignored;
    fs::remove(it->path(), ignored);
  }
}

struct CChild {
  size_t picture = 0;
  pid_t pid = -1;
  int errorPipe = -1;  // read end; -1 once closed
  bool ended = false;  // reaped
  int status = 0;
  std::string standardError;
};

class CBatchRunner {
 public:
  CBatchRunner(const CHostOptions& options, const std::vector<CBatchPicture>& pictures)
      : m_options(options),
        m_pictures(pictures),
        m_terminal(isatty(STDERR_FILENO) == 1),
        m_start(CClock::now()) {}

  int Run();

 private:
  void Start(size_t picture);
  void Stop(int signal);
  void ReadFrom(CChild& child);
  void Finish(CChild& child);
  void PassOnWarnings(const CChild& child);
  void Fail(size_t picture, const std::string& reason);
  void ShowProgress(bool force);
  void ClearProgress();

  const CHostOptions& m_options;
  const std::vector<CBatchPicture>& m_pictures;
  const bool m_terminal;
  const CClock::time_point m_start;
  CClock::time_point m_shown{};
  std::string m_countsShown;
  bool m_progressOnScreen = false;
  int m_null = -1;
  std::vector<CChild> m_running;
  std::vector<std::pair<size_t, std::string>> m_failures;
  size_t m_written = 0;
  size_t m_skipped = 0;
  int m_childThreads = 0;
  uint64_t m_childMemory = 0;
  size_t m_picturesWithWarnings = 0;
  int m_stopSignal = 0;  // the signal that stopped the batch, once forwarded
  CClock::time_point m_stopTime{};
};

int CBatchRunner::Run() {
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  const size_t jobs = m_options.jobs > 0 ? static_cast<size_t>(m_options.jobs)
                                         : static_cast<size_t>(std::max(1L, cores));
  // Jobs side by side share the cores: a picture's own threads beyond its
  // share would only take turns with the other jobs.
  m_childThreads = ThreadsPerJob(m_options, cores, jobs);
  // Taken once, at the start: a job that began later would otherwise see
  // the memory its running siblings hold and divide that again. Each still
  // refuses a picture beyond what is available when it reads it.
  m_childMemory = MemoryPerJob(MemoryForPictures(), std::min(jobs, m_pictures.size()));
  // Children must stay ours to wait for, whatever the parent left us.
  std::signal(SIGCHLD, SIG_DFL);
  m_null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (m_null < 0) {
    Complain(std::string("cannot open /dev/null: ") + std::strerror(errno));
    return keExitFailure;
  }
  const CStopSignals stopSignals;

  size_t next = 0;
  ShowProgress(true);
  while ((m_stopSignal == 0 && next < m_pictures.size()) || !m_running.empty()) {
    if (m_stopSignal == 0 && stopSignals.Received() != 0) Stop(stopSignals.Received());
    while (m_stopSignal == 0 && m_running.size() < jobs && next < m_pictures.size()) {
      Start(next++);
    }
    if (m_stopSignal == 0 && stopSignals.Received() != 0) Stop(stopSignals.Received());
    if (m_running.empty()) continue;
    if (m_stopSignal != 0 && CClock::now() - m_stopTime > kStopGrace) {
      for (const CChild& child : m_running) kill(child.pid, SIGKILL);
    }

    std::vector<pollfd> watched;
    bool waitingForExit = false;
    for (const CChild& child : m_running) {
      if (child.errorPipe >= 0) {
        watched.push_back(pollfd{child.errorPipe, POLLIN, 0});
      } else {
        waitingForExit = true;
      }
    }
    if (stopSignals.WakeDescriptor() >= 0) {
      watched.push_back(pollfd{stopSignals.WakeDescriptor(), POLLIN, 0});
    }
    // A closed pipe means the process is ending; it is reaped shortly after.
    const int timeout = waitingForExit ? 10 : 250;
    // Should poll itself fail, the children are still reaped on the next turns.
    if (poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR) usleep(10000);
    stopSignals.Drain();
    // Ctrl-C reaches the pictures' processes with the batch: a stop that came
    // while they ended is taken first, so they count as not done, not failed.
    if (m_stopSignal == 0 && stopSignals.Received() != 0) Stop(stopSignals.Received());
    for (CChild& child : m_running) {
      if (child.errorPipe >= 0) ReadFrom(child);
      if (waitpid(child.pid, &child.status, WNOHANG) == child.pid) child.ended = true;
    }
    for (auto it = m_running.begin(); it != m_running.end();) {
      if (it->ended) {
        Finish(*it);
        it = m_running.erase(it);
      } else {
        ++it;
      }
    }
    ShowProgress(false);
  }
  close(m_null);

  ClearProgress();
  std::sort(m_failures.begin(), m_failures.end());
  if (m_stopSignal != 0) {
    std::fprintf(stderr,
                 "kelvane: stopped (%s): %zu written, %zu skipped, %zu failed, %zu not done%s\n",
                 strsignal(m_stopSignal), m_written, m_skipped, m_failures.size(),
                 m_pictures.size() - m_written - m_skipped - m_failures.size(),
                 m_failures.empty() ? "" : ":");
  } else {
    std::fprintf(stderr, "kelvane: %zu written, %zu skipped, %zu failed%s\n", m_written,
                 m_skipped, m_failures.size(), m_failures.empty() ? "" : ":");
  }
  for (const auto& [picture, reason] : m_failures) {
    std::fprintf(stderr, "  %s\n", FailureLine(m_pictures[picture].input, reason).c_str());
  }
  if (m_picturesWithWarnings > kPicturesWarnedOf) {
    const size_t more = m_picturesWithWarnings - kPicturesWarnedOf;
    std::fprintf(stderr, "kelvane: %zu more %s script warnings (run one alone to see them)\n",
                 more, more == 1 ? "picture had" : "pictures had");
  }
  std::fflush(stderr);
  if (m_stopSignal != 0) {
    // Ended by the signal, as if it had been unhandled, so that a calling
    // shell or script stops too; its status is 128 + the signal's number.
    signal(m_stopSignal, SIG_DFL);
    raise(m_stopSignal);
    return 128 + m_stopSignal;
  }
  return m_failures.empty() ? keExitWritten : keExitSomeFailed;
}

// The running pictures get the signal the batch got; none is started after.
void CBatchRunner::Stop(int signal) {
  m_stopSignal = signal;
  m_stopTime = CClock::now();
  for (const CChild& child : m_running) kill(child.pid, signal);
}

void CBatchRunner::Start(size_t picture) {
  const CBatchPicture& item = m_pictures[picture];
  if (m_options.skipExisting && ResultIsCurrent(item.input, item.output)) {
    ++m_skipped;
    return;
  }
  std::error_code failed;
  const fs::path folder = fs::path(item.output).parent_path();
  if (!folder.empty()) fs::create_directories(folder, failed);
  if (failed) {
    Fail(picture, "cannot create the folder " + Quoted(folder) + ": " + failed.message());
    return;
  }
  // Everything the child needs is made before fork: after it, only calls
  // that are safe in a copy of a threaded process.
  std::vector<std::string> arguments = ChildArguments(m_options, item, m_childThreads, m_childMemory);
  arguments.insert(arguments.begin(), "kelvane");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    Fail(picture, std::string("cannot start: ") + std::strerror(errno));
    return;
  }
  // Until the child has let the stop signals go back to what they do by
  // default, they wait: the batch's handler would only note them in the copy.
  sigset_t stops;
  sigset_t previous;
  sigemptyset(&stops);
  for (const int signal : kStopSignals) sigaddset(&stops, signal);
  pthread_sigmask(SIG_BLOCK, &stops, &previous);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    const int why = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    Fail(picture, std::string("cannot start: ") + std::strerror(why));
    return;
  }
  if (pid == 0) {
    ResetStopSignalsInChild();
    // A child whose batch is gone, killed even by SIGKILL, stops too rather
    // than go on writing; a parent that died before this line is caught by
    // the check after it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(keExitFailure);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    // Children share no terminal input, and their output is not wanted.
    dup2(m_null, STDIN_FILENO);
    dup2(m_null, STDOUT_FILENO);
    dup2(pipeEnds[1], STDERR_FILENO);
    execv("/proc/self/exe", argv.data());
    static const char kMessage[] = "kelvane: cannot start the program again\n";
    [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    _exit(127);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  close(pipeEnds[1]);
  fcntl(pipeEnds[0], F_SETFL, fcntl(pipeEnds[0], F_GETFL) | O_NONBLOCK);
  CChild child;
  child.picture = picture;
  child.pid = pid;
  child.errorPipe = pipeEnds[0];
  m_running.push_back(std::move(child));
}

void CBatchRunner::ReadFrom(CChild& child) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(child.errorPipe, buffer, sizeof buffer);
    if (n > 0) {
      child.standardError.append(buffer, static_cast<size_t>(n));
      if (child.standardError.size() > 4 * kKeptErrorBytes) {
        child.standardError.erase(0, child.standardError.size() - kKeptErrorBytes);
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // more may come
    // The end of the stream, or a pipe that cannot be read any more.
    close(child.errorPipe);
    child.errorPipe = -1;
    return;
  }
}

void CBatchRunner::Finish(CChild& child) {
  // What the process wrote before it ended is still in the pipe; a process
  // it left behind holding the pipe is not waited for.
  if (child.errorPipe >= 0) {
    ReadFrom(child);
    if (child.errorPipe >= 0) close(child.errorPipe);
    child.errorPipe = -1;
  }
  PassOnWarnings(child);
  const std::string& output = m_pictures[child.picture].output;
  std::string reason = FailureReason(child.status, child.standardError);
  if (reason.empty()) {
    std::error_code failed;
    if (fs::is_regular_file(output, failed)) {
      ++m_written;
      return;
    }
    reason = "ended without writing its result";
  }
  RemoveTemporaries(output);
  // Ended by the stop, a picture did not fail: it is only not done.
  if (m_stopSignal != 0 && WIFSIGNALED(child.status)) return;
  Fail(child.picture, reason);
}

// A picture's process says on standard error what its script did that may
// not be meant (a point outside a smaller picture); nobody else reads it.
void CBatchRunner::PassOnWarnings(const CChild& child) {
  constexpr std::string_view kWarning = ": warning: ";
  std::vector<std::string> warnings;
  for (size_t start = 0; start < child.standardError.size();) {
    size_t end = child.standardError.find('\n', start);
    if (end == std::string::npos) end = child.standardError.size();
    const std::string_view line(child.standardError.data() + start, end - start);
    if (line.find(kWarning) != std::string_view::npos) warnings.emplace_back(line);
    start = end + 1;
  }
  if (warnings.empty() || ++m_picturesWithWarnings > kPicturesWarnedOf) return;
  ClearProgress();
  for (const std::string& warning : warnings) {
    std::fprintf(stderr, "kelvane: %s: %s\n", m_pictures[child.picture].input.c_str(),
                 warning.c_str());
  }
  std::fflush(stderr);
  ShowProgress(true);
}

void CBatchRunner::Fail(size_t picture, const std::string& reason) {
  m_failures.emplace_back(picture, reason);
  // Failures are said as they happen, so a long batch shows them before its end.
  ClearProgress();
  std::fprintf(stderr, "kelvane: %s\n", FailureLine(m_pictures[picture].input, reason).c_str());
  std::fflush(stderr);
  ShowProgress(true);
}

void CBatchRunner::ShowProgress(bool force) {
  if (!m_terminal) return;
  const CClock::time_point now = CClock::now();
  const size_t failed = m_failures.size();
  const size_t done = m_written + m_skipped + failed;
  const std::string counts = ProgressText(done, m_pictures.size(), failed, 0, 0);
  // The rate changes all the time; once a second is enough to see it move.
  if (!force && counts == m_countsShown && now - m_shown < std::chrono::seconds(1)) return;
  const double seconds = std::chrono::duration<double>(now - m_start).count();
  const std::string text =
      ProgressText(done, m_pictures.size(), failed, m_written + failed, seconds);
  std::fprintf(stderr, "\r%s\033[K", text.c_str());
  std::fflush(stderr);
  m_countsShown = counts;
  m_shown = now;
  m_progressOnScreen = true;
}

void CBatchRunner::ClearProgress() {
  if (!m_progressOnScreen) return;
  std::fputs("\r\033[K", stderr);
  m_progressOnScreen = false;
  m_countsShown.clear();
}

// A typo in the script would fail every picture alike, each after its
// decoding: the module reads the script through once before any picture.
int CheckBatchScript(const CHostOptions& options) {
  const std::vector<std::string> folders = PluginFolders(options);
  const std::optional<CPluginInfo> module = FindFilterModule(folders, kFilterName);
  if (!module) {
    Complain(std::string("no filter module named \"") + kFilterName + "\" in " +
             FolderList(folders));
    return keExitFailure;
  }
  CFilterModule loaded;
  std::string error;
  if (!loaded.Load(module->path, module->entryPoint, error)) {
    Complain(error + "; nothing was written");
    return keExitFailure;
  }
  std::string message;
  if (ScriptIsMalformed(loaded, options.script, message)) {
    Complain(message);
    Complain("no picture was read, nothing was written");
    return keExitUsage;
  }
  return keExitWritten;
}

}  // namespace

int RunBatch(const CHostOptions& options) {
  std::string error;
  if (options.script.empty()) {
    Complain("a batch needs a session script (--script FILE)");
    return keExitUsage;
  }
  // One unreadable or endless script would fail every picture the same way.
  std::string script;
  if (!ReadScriptFile(options.script, script, error)) {
    Complain(error);
    return keExitUsage;
  }
  std::vector<CBatchPicture> pictures;
  size_t skippedFolders = 0;
  if (!CollectBatch(options, pictures, error, &skippedFolders)) {
    Complain(error);
    return keExitUsage;
  }
  if (!CheckExistingResults(options, pictures, error)) {
    Complain(error);
    return keExitUsage;
  }
  // A format this build cannot write would fail every picture the same way.
  if (!pictures.empty() &&
      !CheckOutputFormat(pictures[0].output, OutputFormatOf(options, std::string()), options.NeedsAlpha(),
                         error)) {
    Complain(error);
    return keExitUsage;
  }
  if (!pictures.empty()) {
    const int checked = CheckBatchScript(options);
    if (checked != keExitWritten) return checked;
  }
  std::error_code failed;
  fs::create_directories(options.outDir, failed);
  if (failed || !fs::is_directory(options.outDir)) {
    Complain("cannot create the folder " + Quoted(options.outDir) + ": " +
             (failed ? failed.message() : std::string("a file is in the way")));
    return keExitUsage;
  }
  // Pictures left out without a word would look like a complete batch.
  if (skippedFolders > 0) {
    const bool one = skippedFolders == 1;
    Complain(std::to_string(skippedFolders) + (one ? " folder" : " folders") +
             " inside the inputs " + (one ? "was" : "were") +
             " not searched for pictures; --recursive descends into them");
  }
  if (pictures.empty()) {
    Complain("no pictures in " + (options.inputs.size() == 1 ? Quoted(options.inputs[0])
                                                             : std::string("the inputs")));
    return keExitWritten;
  }
  return CBatchRunner(options, pictures).Run();
}
