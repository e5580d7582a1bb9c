#include "platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// Each test in a folder of its own, once with unnamed files and once with the
// named temporary files of file systems that lack them.
class AtomicFileTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelvane-atomic-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
    UseUnnamedFilesForTesting(GetParam());
  }
  void TearDown() override {
    UseUnnamedFilesForTesting(true);
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
  }

  std::string Path(const std::string& name) const { return (m_folder / name).string(); }
  std::string Read(const std::string& name) const {
    std::ifstream in(m_folder / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  size_t Entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(m_folder), {}));
  }

  fs::path m_folder;
};

TEST_P(AtomicFileTest, ANameAsLongAsTheFolderTakesIsWrittenAndReplacedWithNothingBeside) {
  const std::string name(255, 'n');
  ASSERT_EQ(CheckNewFileName(Path(name)), 0);
  ASSERT_EQ(ReplaceFile(Path(name), "first", 0640, ""), 0);
  EXPECT_EQ(Read(name), "first");
  ASSERT_EQ(ReplaceFile(Path(name), "second", 0604, ""), 0);
  EXPECT_EQ(Read(name), "second");
  EXPECT_EQ(Entries(), 1u);
  struct stat info {};
  ASSERT_EQ(stat(Path(name).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0604u);
}

TEST_P(AtomicFileTest, ANameLongerThanTheFolderTakesIsRefusedAndNothingIsMade) {
  const std::string name(256, 'n');
  EXPECT_EQ(CheckNewFileName(Path(name)), ENAMETOOLONG);
  EXPECT_EQ(CheckNewFileName(Path(std::string(255, 'n'))), 0);
  EXPECT_NE(ReplaceFile(Path(name), "bytes", 0644, ""), 0);
  EXPECT_EQ(Entries(), 0u);
}

TEST_P(AtomicFileTest, AFileDroppedOrKilledBeforeItIsCommittedLeavesTheOldOneAlone) {
  ASSERT_EQ(ReplaceFile(Path("kept"), "old", 0644, ""), 0);
  {
    CAtomicFile file;
    ASSERT_EQ(file.Open(Path("kept"), 0644), 0);
    ASSERT_TRUE(WriteAll(file.Descriptor(), std::string("half")));
  }
  EXPECT_EQ(Read("kept"), "old");
  EXPECT_EQ(Entries(), 1u);

  // Killed mid-write: an unnamed file goes with the process.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CAtomicFile file;
    if (file.Open(Path("kept"), 0644) != 0) _exit(1);
    (void)WriteAll(file.Descriptor(), std::string(1 << 16, 'x'));
    raise(SIGKILL);
    _exit(2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(Read("kept"), "old");
  if (GetParam()) {
    EXPECT_EQ(Entries(), 1u);
  }
}

// The batch clears a killed writer's leftovers by this prefix alone.
TEST_P(AtomicFileTest, TheNamedTemporaryBeginsWithTheTargetsPrefix) {
  const long longest = pathconf(m_folder.c_str(), _PC_NAME_MAX);
  ASSERT_GT(longest, 8);
  for (const std::string& name :
       {std::string("a.png"), std::string(static_cast<size_t>(longest), 'n')}) {
    CAtomicFile file;
    ASSERT_EQ(file.Open(Path(name), 0644), 0);
    const std::string prefix = TemporaryNamePrefix(Path(name));
    EXPECT_LE(prefix.size() + 6, static_cast<size_t>(longest));
    if (GetParam()) {
      EXPECT_EQ(Entries(), 0u);
      continue;
    }
    ASSERT_EQ(Entries(), 1u);
    const std::string made = fs::directory_iterator(m_folder)->path().filename().string();
    EXPECT_EQ(made.size(), prefix.size() + 6) << made;
    EXPECT_EQ(made.compare(0, prefix.size(), prefix), 0) << made << " " << prefix;
  }
  EXPECT_EQ(Entries(), 0u);
}

// Ctrl-C, or a batch stopping its pictures, while the file is written.
TEST_P(AtomicFileTest, AStopSignalRemovesTheTemporaryAndEndsTheProcessByIt) {
  for (const int stop : {SIGINT, SIGTERM, SIGHUP}) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      signal(stop, SIG_DFL);
      RemoveTemporaryFilesOnSignal();
      CAtomicFile file;
      if (file.Open(Path("target"), 0644) != 0) _exit(1);
      (void)WriteAll(file.Descriptor(), std::string(1 << 16, 'x'));
      (void)WriteAll(ready[1], std::string("."));
      for (;;) pause();
    }
    close(ready[1]);
    pollfd wait{ready[0], POLLIN, 0};
    const bool started = poll(&wait, 1, 20000) == 1;
    close(ready[0]);
    if (started) {
      EXPECT_EQ(Entries(), GetParam() ? 0u : 1u);
    }
    kill(child, stop);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(started);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), stop);
    EXPECT_EQ(Entries(), 0u) << strsignal(stop);
  }
}

TEST_P(AtomicFileTest, AFailedCommitLeavesNothingBehind) {
  ASSERT_EQ(ReplaceFile(Path("target"), "old", 0644, ""), 0);
  // A folder where the file should go cannot be replaced by a file.
  fs::create_directory(m_folder / "folder");
  std::ofstream(m_folder / "folder" / "inside") << "x";
  EXPECT_NE(ReplaceFile(Path("folder"), "new", 0644, ""), 0);
  EXPECT_TRUE(fs::is_directory(m_folder / "folder"));
  EXPECT_EQ(Entries(), 2u);
  EXPECT_EQ(Read("target"), "old");
}

TEST_P(AtomicFileTest, AFileThatMayNotReplaceFindsTheNameTakenAndLeavesItAlone) {
  ASSERT_EQ(ReplaceFile(Path("taken"), "old", 0644, ""), 0);
  CAtomicFile file;
  ASSERT_EQ(file.Open(Path("taken"), 0644), 0);
  ASSERT_TRUE(WriteAll(file.Descriptor(), std::string("new")));
  EXPECT_EQ(file.Commit(false), EEXIST);
  EXPECT_EQ(Read("taken"), "old");
  EXPECT_EQ(Entries(), 1u);

  CAtomicFile fresh;
  ASSERT_EQ(fresh.Open(Path("free"), 0644), 0);
  ASSERT_TRUE(WriteAll(fresh.Descriptor(), std::string("new")));
  EXPECT_EQ(fresh.Commit(false), 0);
  EXPECT_EQ(Read("free"), "new");
  EXPECT_EQ(Entries(), 2u);
}

INSTANTIATE_TEST_SUITE_P(UnnamedAndNamed, AtomicFileTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Unnamed" : "NamedTemporary";
                         });

}  // namespace
