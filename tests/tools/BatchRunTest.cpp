// Batches: which pictures a run takes and where their results go, how a
// picture's process is started and judged, and whole batches run as a user
// runs them.
#include "tools/kelvane/BatchRun.h"
#include "tools/kelvane/PictureReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KelvaneRun.h"
#include "PngTestFiles.h"
#include "PictureTestFiles.h"

namespace fs = std::filesystem;

namespace {

// A small RGB picture whose pixels depend on its size and `seed`.
bool WritePicture(const fs::path& path, int width = 4, int height = 3, int seed = 0) {
  std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      rows[static_cast<size_t>(y)].push_back(static_cast<uint8_t>(x * 40 + seed));
      rows[static_cast<size_t>(y)].push_back(static_cast<uint8_t>(y * 30 + seed));
      rows[static_cast<size_t>(y)].push_back(static_cast<uint8_t>(200 - x - y));
    }
  }
  fs::create_directories(path.parent_path());
  return WriteTestPng(path.string(), width, height, PNG_COLOR_TYPE_RGB, 8, rows);
}

void WriteAll(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// Wait statuses as Linux encodes them.
int ExitedWith(int code) { return code << 8; }
int KilledBy(int signal) { return signal; }

class BatchCollectTest : public CKelvaneFolderTest {
 protected:
  void SetUp() override {
    CKelvaneFolderTest::SetUp();
    m_options.script = Path("s.txt");
    m_options.outDir = Path("out");
  }

  // The pairs found, as paths inside the test folder, "input > output".
  std::vector<std::string> Collected() {
    std::vector<CBatchPicture> pictures;
    std::string error;
    EXPECT_TRUE(CollectBatch(m_options, pictures, error)) << error;
    std::vector<std::string> pairs;
    for (const CBatchPicture& picture : pictures) {
      pairs.push_back(fs::path(picture.input).lexically_relative(m_dir).string() + " > " +
                      fs::path(picture.output).lexically_relative(m_dir).string());
    }
    return pairs;
  }

  std::string Refusal() {
    std::vector<CBatchPicture> pictures;
    std::string error;
    EXPECT_FALSE(CollectBatch(m_options, pictures, error));
    return error;
  }

  CHostOptions m_options;
};

}  // namespace

TEST_F(BatchCollectTest, FolderStandsForItsVisiblePicturesInOrder) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "b.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / ".hidden.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "sub" / "c.png"));
  WriteAll(m_dir / "in" / "notes.png", "not a picture at all\n");
  WriteAll(m_dir / "in" / "readme.txt", "hello\n");
  m_options.inputs = {Path("in")};
  EXPECT_EQ(Collected(), (std::vector<std::string>{"in/a.png > out/a.png", "in/b.png > out/b.png"}));
}

TEST_F(BatchCollectTest, RecursiveKeepsPathsInsideTheFolderAndPassesOverHiddenFolders) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "top.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "sub" / "deep" / "x.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / ".cache" / "y.png"));
  m_options.inputs = {Path("in")};
  m_options.recursive = true;
  EXPECT_EQ(Collected(), (std::vector<std::string>{"in/sub/deep/x.png > out/sub/deep/x.png",
                                                   "in/top.png > out/top.png"}));
}

// Results inside a folder the batch descends into would be taken for
// pictures by the next run: refused from the first, at any depth.
TEST_F(BatchCollectTest, ResultFolderInsideAFolderThatIsDescendedIntoIsRefused) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "top.png"));
  m_options.inputs = {Path("in")};
  m_options.recursive = true;
  for (const char* inside : {"in/results", "in/sub/results"}) {
    m_options.outDir = Path(inside);
    std::vector<CBatchPicture> pictures;
    std::string error;
    EXPECT_FALSE(CollectBatch(m_options, pictures, error)) << inside;
    EXPECT_NE(error.find("--recursive"), std::string::npos) << error;
  }
  // Without --recursive the subfolder is never entered.
  m_options.recursive = false;
  m_options.outDir = Path("in/results");
  EXPECT_EQ(Collected(), (std::vector<std::string>{"in/top.png > in/results/top.png"}));
}

TEST_F(BatchCollectTest, NamedFilesAreTakenWhateverTheirKindAndNamedTwiceRunOnce) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.png"));
  WriteAll(m_dir / "notes.txt", "not a picture\n");
  m_options.inputs = {Path("notes.txt"), Path("in"), Path("in/a.png"), Path("./in/a.png")};
  m_options.format = "webp";
  m_options.mask = true;  // the child writes the mask; the name stays
  EXPECT_EQ(Collected(),
            (std::vector<std::string>{"notes.txt > out/notes.webp", "in/a.png > out/a.webp"}));
}

TEST_F(BatchCollectTest, TwoPicturesForOneResultAreRefusedNamingBoth) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.jpg"));
  m_options.inputs = {Path("in")};
  const std::string error = Refusal();
  EXPECT_NE(error.find("a.png"), std::string::npos) << error;
  EXPECT_NE(error.find("a.jpg"), std::string::npos) << error;
  EXPECT_NE(error.find(Path("out/a.png")), std::string::npos) << error;
}

TEST_F(BatchCollectTest, ResultThatWouldReplaceAPictureIsRefused) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.png"));
  m_options.inputs = {Path("in")};
  m_options.outDir = Path("in/../in");
  EXPECT_NE(Refusal().find("replace"), std::string::npos);
}

TEST_F(BatchCollectTest, MissingInputsAndStandardInputAreRefused) {
  m_options.inputs = {Path("nowhere")};
  EXPECT_NE(Refusal().find("nowhere"), std::string::npos);
  m_options.inputs = {"-"};
  EXPECT_FALSE(Refusal().empty());
}

TEST_F(BatchCollectTest, ResultIsCurrentOnlyWhenNewerThanItsPicture) {
  const fs::path input = m_dir / "a.png";
  const fs::path output = m_dir / "out.png";
  ASSERT_TRUE(WritePicture(input));
  EXPECT_FALSE(ResultIsCurrent(input, output));  // none yet
  WriteAll(output, "result");
  const fs::file_time_type changed = fs::last_write_time(input);
  fs::last_write_time(output, changed + std::chrono::seconds(5));
  EXPECT_TRUE(ResultIsCurrent(input, output));
  fs::last_write_time(output, changed);
  EXPECT_FALSE(ResultIsCurrent(input, output));
  fs::last_write_time(output, changed - std::chrono::seconds(5));
  EXPECT_FALSE(ResultIsCurrent(input, output));
}

TEST(BatchChildTest, ArgumentsCarryWhatEachPictureNeedsAndEndTheOptions) {
  CHostOptions options;
  options.script = "s.txt";
  options.outDir = "out";
  const CBatchPicture picture{"-odd.png", "out/-odd.png"};
  EXPECT_EQ(ChildArguments(options, picture),
            (std::vector<std::string>{"--script", "s.txt", "--", "-odd.png", "out/-odd.png"}));

  options.pluginFolder = "mods";
  options.presets = true;
  options.planesAsFile = true;
  options.flatten = true;
  options.flattenColour = CFlattenColour{0x0A, 0xB0, 0xFF};
  options.strip = true;
  options.format = "webp";
  options.jobs = 3;
  options.skipExisting = true;
  options.recursive = true;
  // The picture's process reads back what it needs, whatever the order.
  const std::vector<std::string> arguments = ChildArguments(options, picture, 2, 4096);
  ASSERT_GE(arguments.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(arguments.end() - 3, arguments.end()),
            (std::vector<std::string>{"--", "-odd.png", "out/-odd.png"}));
  CHostOptions child;
  std::string error;
  ASSERT_TRUE(ParseHostOptions(arguments, child, error)) << error;
  EXPECT_EQ(child.script, "s.txt");
  EXPECT_EQ(child.pluginFolder, "mods");
  EXPECT_TRUE(child.presets && child.planesAsFile && child.strip);
  EXPECT_TRUE(child.flatten);
  EXPECT_EQ(child.flattenColour, (CFlattenColour{0x0A, 0xB0, 0xFF}));
  EXPECT_EQ(child.threads, 2);
  EXPECT_EQ(child.memoryShare, 4096u);
  // A result older than its picture is done again over the old one.
  EXPECT_TRUE(child.overwrite);
  // The batch's own options stay with the batch; the output's name says
  // its format.
  EXPECT_FALSE(child.Batch() || child.recursive || child.skipExisting);
  EXPECT_EQ(child.jobs, 0);
  EXPECT_TRUE(child.format.empty());
  EXPECT_EQ(child.input, "-odd.png");
  EXPECT_EQ(child.output, "out/-odd.png");

  options.flatten = false;
  options.mask = true;
  ASSERT_TRUE(ParseHostOptions(ChildArguments(options, picture), child, error)) << error;
  EXPECT_TRUE(child.mask && !child.flatten);
}

TEST(BatchChildTest, EachJobReadsAndWritesWithItsShareOfTheCores) {
  CHostOptions options;
  EXPECT_EQ(ThreadsPerJob(options, 8, 1), 8);
  EXPECT_EQ(ThreadsPerJob(options, 8, 3), 2);
  EXPECT_EQ(ThreadsPerJob(options, 2, 4), 1);
  EXPECT_EQ(ThreadsPerJob(options, 0, 1), 1);  // the cores could not be told
  options.threads = 5;
  EXPECT_EQ(ThreadsPerJob(options, 2, 2), 5);

  options = CHostOptions();
  options.script = "s.txt";
  const CBatchPicture picture{"a.png", "out/a.png"};
  EXPECT_EQ(ChildArguments(options, picture, 2),
            (std::vector<std::string>{"--script", "s.txt", "--threads", "2", "--", "a.png",
                                      "out/a.png"}));
}

TEST(BatchChildTest, ProgressShowsCountsAndTheRateOnceAPictureHasRun) {
  EXPECT_EQ(ProgressText(37, 200, 1, 37, 17.62), "37/200 done, 1 failed, 2.1 pictures/s");
  EXPECT_EQ(ProgressText(5, 200, 0, 0, 3.0), "5/200 done, 0 failed");  // all skipped
  EXPECT_EQ(ProgressText(0, 3, 0, 0, 0.0), "0/3 done, 0 failed");
}

TEST(BatchChildTest, FailureReasonIsTheLastWordsOrTheSignal) {
  EXPECT_EQ(FailureReason(ExitedWith(0), "kelvane: a warning\n"), "");
  EXPECT_EQ(FailureReason(ExitedWith(2), "kelvane: first\n\nkelvane: 'x.png' is damaged\n\n  \n"),
            "'x.png' is damaged");
  EXPECT_EQ(FailureReason(ExitedWith(1), "no prefix here\r\n"), "no prefix here");
  EXPECT_EQ(FailureReason(ExitedWith(2), "s.txt:3:1: unknown command 'x'\n"
                                         "kelvane: nothing was written\n"),
            "s.txt:3:1: unknown command 'x'");
  EXPECT_EQ(FailureReason(ExitedWith(3), "\n \n"), "exit status 3");
  EXPECT_EQ(FailureReason(KilledBy(SIGABRT), "kelvane: anything\n"),
            std::string("crashed (") + strsignal(SIGABRT) + ")");
  EXPECT_EQ(FailureReason(KilledBy(SIGSEGV), ""),
            std::string("crashed (") + strsignal(SIGSEGV) + ")");
}

// The picture is named once on a failure's line.
TEST(BatchChildTest, AFailureLineNamesThePictureOnce) {
  EXPECT_EQ(FailureLine("photos/sub/broken.jpg",
                        "'photos/sub/broken.jpg' is a damaged or truncated picture"),
            "'photos/sub/broken.jpg' is a damaged or truncated picture");
  EXPECT_EQ(FailureLine("a.png", "crashed (Aborted)"), "a.png: crashed (Aborted)");
  EXPECT_EQ(FailureLine("a.png", "'ba.png' is damaged"), "a.png: 'ba.png' is damaged");
}

// Whole batches through the program.
namespace {

class BatchRunTest : public CKelvaneFolderTest {
 protected:
  void SetUp() override {
    CKelvaneFolderTest::SetUp();
    WriteText("s.txt", "ok\n");
  }

  // A batch with the filter that crashes on pictures 13 pixels wide.
  CRun Batch(const std::string& arguments) const {
    return Kelvane("--script s.txt --plugins '" + std::string(KELVANE_CRASHING_PLUGIN_DIR) +
                   "' --out-dir out " + arguments);
  }

  // The reason the summary gives for `input`, or "" when it is not listed.
  // The summary's line for `input`: after "INPUT: ", or whole where the
  // reason names the picture itself.
  static std::string Reason(const CRun& run, const std::string& input) {
    const size_t summary = run.output.find(" failed:\n");
    if (summary == std::string::npos) return std::string();
    for (const std::string& entry : {"\n  " + input + ": ", "\n  '" + input + "'"}) {
      const size_t at = run.output.find(entry, summary);
      if (at == std::string::npos) continue;
      const size_t begin = at + (entry.back() == ' ' ? entry.size() : 3);
      return run.output.substr(begin, run.output.find('\n', begin) - begin);
    }
    return std::string();
  }

  std::vector<uint8_t> Pixels(const std::string& name) const {
    CPicture pixels;
    std::string error;
    EXPECT_TRUE(ReadPicture(Path(name), pixels, error)) << error;
    return pixels.bytes;
  }
};

}  // namespace

TEST_F(BatchRunTest, CrashedAndDamagedPicturesFailAloneAndAreListed) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.png", 4, 3, 1));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "b.png", 6, 5, 2));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "crash.png", 13, 4));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "z.png", 5, 5, 3));
  ASSERT_TRUE(WritePicture(m_dir / "whole.png", 40, 40));
  const std::string whole = ReadAll(m_dir / "whole.png");
  WriteAll(m_dir / "in" / "cut.png", whole.substr(0, whole.size() / 2));
  WriteText("bad.png", "this is text, not a picture\n");

  const CRun run = Batch("--jobs 2 in bad.png");
  EXPECT_EQ(run.status, 4) << run.output;
  EXPECT_NE(run.output.find("3 written, 0 skipped, 3 failed"), std::string::npos) << run.output;
  EXPECT_EQ(Reason(run, "in/crash.png"), "crashed (" + std::string(strsignal(SIGABRT)) + ")")
      << run.output;
  // The damaged files fail with the reason the program gives, which names them.
  EXPECT_NE(Reason(run, "in/cut.png").find("cut.png"), std::string::npos) << run.output;
  EXPECT_NE(Reason(run, "bad.png").find("bad.png"), std::string::npos) << run.output;

  // The others are written, with the layer this filter hands back unchanged.
  EXPECT_EQ(Pixels("out/a.png").size(), 4u * 3u * 4u);
  EXPECT_EQ(Pixels("out/b.png").size(), 6u * 5u * 4u);
  EXPECT_EQ(Pixels("out/z.png").size(), 5u * 5u * 4u);
  EXPECT_FALSE(Exists("out/crash.png"));
  EXPECT_FALSE(Exists("out/cut.png"));
  EXPECT_FALSE(Exists("out/bad.png"));
}

TEST_F(BatchRunTest, SkipExistingResumesWhereTheBatchStopped) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "done.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "stale.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "new.png"));
  const fs::file_time_type changed = fs::last_write_time(m_dir / "in" / "done.png");
  WriteAll(m_dir / "out" / "done.png", "kept");
  fs::last_write_time(m_dir / "out" / "done.png", changed + std::chrono::hours(1));
  WriteAll(m_dir / "out" / "stale.png", "stale");
  fs::last_write_time(m_dir / "out" / "stale.png", changed - std::chrono::hours(1));

  CRun run = Batch("--skip-existing in");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("2 written, 1 skipped, 0 failed"), std::string::npos) << run.output;
  EXPECT_EQ(ReadAll(m_dir / "out" / "done.png"), "kept");
  EXPECT_EQ(fs::last_write_time(m_dir / "out" / "done.png"), changed + std::chrono::hours(1));
  EXPECT_EQ(Pixels("out/stale.png").size(), 4u * 3u * 4u);
  EXPECT_EQ(Pixels("out/new.png").size(), 4u * 3u * 4u);

  // Without it nothing is replaced unless the user says so.
  WriteAll(m_dir / "out" / "done.png", "kept");
  run = Batch("in");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("3 of the 3 results exist already"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("--overwrite"), std::string::npos) << run.output;
  EXPECT_EQ(ReadAll(m_dir / "out" / "done.png"), "kept");
  run = Batch("--overwrite in");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Pixels("out/done.png").size(), 4u * 3u * 4u);
}

TEST_F(BatchRunTest, RecursiveKeepsPathsAndOddNamesReachTheirProcess) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "top.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "-dash.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "sub" / "deep" / "x y.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / ".hidden" / "h.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / ".dot.png"));
  WriteText("in/readme.txt", "hello\n");

  CRun run = Batch("in");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Exists("out/top.png"));
  EXPECT_TRUE(Exists("out/-dash.png"));
  EXPECT_FALSE(Exists("out/sub"));

  run = Batch("--recursive --overwrite in");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Exists("out/sub/deep/x y.png"));
  EXPECT_FALSE(Exists("out/.hidden"));
  EXPECT_FALSE(Exists("out/.dot.png"));
  EXPECT_FALSE(Exists("out/readme.png"));
}

TEST_F(BatchRunTest, UsageErrorsStopTheBatchBeforeAnythingRuns) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.jpg"));
  CRun run = Batch("in");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("a.png"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("a.jpg"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("out"));

  WriteText("blocker", "a file where the folder should be\n");
  run = Kelvane("--script s.txt --plugins '" + std::string(KELVANE_CRASHING_PLUGIN_DIR) +
                "' --out-dir blocker/out in/a.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("blocker/out"), std::string::npos) << run.output;

  // A format that cannot carry the cut-out would fail every picture alike.
  run = Batch("--format jpg in/a.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("jpg"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("out"));

  run = Kelvane("--script missing.txt --out-dir out in/a.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("missing.txt"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("out"));
}

// The real filter at work on pictures large enough for a run: the results do
// not depend on how many run side by side.
TEST_F(BatchRunTest, OneOrTwoJobsWriteTheSameFiles) {
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(WritePicture(m_dir / "in" / ("p" + std::to_string(i) + ".png"), 80, 72, 10 * i));
  }
  WriteText("s.txt", "background 2,2 70,2\nobject 40,60\napply\nset feathering 2\napply\nok\n");
  CRun run = Kelvane("--script s.txt --out-dir one --jobs 1 in");
  ASSERT_EQ(run.status, 0) << run.output;
  run = Kelvane("--script s.txt --out-dir two --jobs 2 in");
  ASSERT_EQ(run.status, 0) << run.output;
  for (int i = 0; i < 3; ++i) {
    const std::string name = "p" + std::to_string(i) + ".png";
    const std::vector<uint8_t> one = Pixels("one/" + name);
    EXPECT_EQ(one.size(), 80u * 72u * 4u);
    EXPECT_EQ(one, Pixels("two/" + name)) << name;
  }
  run = Kelvane("--script s.txt --out-dir masks --mask --jobs 2 in");
  ASSERT_EQ(run.status, 0) << run.output;
  CPicture mask;
  std::string error;
  ASSERT_TRUE(ReadPicture(Path("masks/p0.png"), mask, error)) << error;
  EXPECT_EQ(mask.channels, 1);
}

// The real filter reads the script through before the batch starts.
TEST_F(BatchRunTest, AMalformedScriptStopsTheBatchBeforeAnyPictureIsRead) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.png"));
  WriteText("bad.png", "this is text, not a picture\n");
  WriteText("s.txt", "background 2,2\n  aply\n");
  CRun run = Kelvane("--script s.txt --out-dir out in bad.png");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("s.txt:2:3: unknown command 'aply'"), std::string::npos)
      << run.output;
  // The damaged picture would have been named had anything been read.
  EXPECT_EQ(run.output.find("bad.png"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find(" written, "), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("out"));

  // What only a session can refuse is still found picture by picture.
  WriteText("s.txt", "apply\n");
  run = Kelvane("--script s.txt --out-dir out in");
  EXPECT_EQ(run.status, 4) << run.output;
  EXPECT_NE(Reason(run, "in/a.png").find("s.txt:1:"), std::string::npos) << run.output;

  // Nothing after ok is read, by the check as by the replay.
  WriteText("s.txt", "background 2,2\napply\nok\n\xFF this is not read\n");
  run = Kelvane("--script s.txt --out-dir out in");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Pixels("out/a.png").size(), 4u * 3u * 4u);
}

TEST_F(BatchRunTest, AScriptThatNeverEndsStopsTheBatchBeforeAnythingRuns) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.png"));
  const CRun run = Kelvane("--script /dev/zero --out-dir out in");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("'/dev/zero' is longer than"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("out"));
}

TEST_F(BatchRunTest, AResultFolderThatIsAnInputFolderIsRefusedFromTheFirstRun) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.png"));
  WriteText("in/b.jpg", "never read\n");
  const CRun run = Batch("--out-dir ./in/ in");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("will not write the results into 'in'"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("--out-dir"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find(" written, "), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("in/b.png"));
  EXPECT_FALSE(Exists("out"));
}

TEST_F(BatchRunTest, ABatchThatPassesOverFoldersSaysHowManyAndHowToEnterThem) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "sub" / "b.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "empty" / "c.png"));
  ASSERT_TRUE(WritePicture(m_dir / "in" / ".hidden" / "h.png"));
  constexpr const char* kSaid = "2 folders inside the inputs were not searched for pictures; "
                                "--recursive descends into them";
  CRun run = Batch("in");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find(kSaid), std::string::npos) << run.output;
  // Said before the batch, as a note: the pictures it found are written.
  EXPECT_LT(run.output.find(kSaid), run.output.find("1 written"));
  EXPECT_TRUE(Exists("out/a.png"));

  // The result folder is not a folder left out, and with --recursive none is.
  run = Kelvane("--script s.txt --plugins '" + std::string(KELVANE_CRASHING_PLUGIN_DIR) +
                "' --out-dir in/results in");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find(kSaid), std::string::npos) << run.output;
  run = Batch("--recursive --overwrite in");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.find("not searched"), std::string::npos) << run.output;
}

// Where the file system has no unnamed files, a killed picture's process
// leaves its named temporary file; the batch knows the name and clears it.
TEST_F(BatchRunTest, WhatAFailedPictureLeftBesideItsResultIsRemoved) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "crash.png", 13, 4));
  ASSERT_TRUE(WritePicture(m_dir / "in" / "fine.png"));
  fs::create_directories(m_dir / "out");
  for (const char* name : {".crash.png.Ab3dE9", ".crash.png.keep", ".crash.png.Ab3dE9x",
                           ".fine.png.Xy12zz"}) {
    WriteText(std::string("out/") + name, "left over");
  }
  const CRun run = Batch("in");
  EXPECT_EQ(run.status, 4) << run.output;
  EXPECT_FALSE(Exists("out/.crash.png.Ab3dE9"));
  // Only names of the writer's own pattern, and only beside a failure.
  EXPECT_TRUE(Exists("out/.crash.png.keep"));
  EXPECT_TRUE(Exists("out/.crash.png.Ab3dE9x"));
  EXPECT_TRUE(Exists("out/.fine.png.Xy12zz"));
  EXPECT_TRUE(Exists("out/fine.png"));
}

TEST_F(BatchRunTest, APointOutsideThePictureIsMarkedAtTheEdgeWithAWarning) {
  ASSERT_TRUE(WritePicture(m_dir / "in" / "a.png", 80, 72));
  WriteText("far.txt", "object 40,60\nbackground  5000,5000 2,2 50%,100%\napply\nok\n");
  WriteText("edge.txt", "object 40,60\nbackground  79,71 2,2 50%,100%\napply\nok\n");
  CRun run = Kelvane("--script far.txt in/a.png far.png");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("far.txt:2:13: warning: the point 5000,5000 lies outside the "
                            "80 x 72 picture"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("percent"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("2,2 "), std::string::npos) << run.output;
  run = Kelvane("--script edge.txt in/a.png edge.png");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.find("warning"), std::string::npos) << run.output;
  EXPECT_EQ(Pixels("far.png"), Pixels("edge.png"));

  // A batch's pictures say it through the batch, naming the picture.
  run = Kelvane("--script far.txt --out-dir out in");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("kelvane: in/a.png: far.txt:2:13: warning: the point 5000,5000"),
            std::string::npos)
      << run.output;
}

// Batches stopped from outside, as a user or a system does.
namespace {

// A process's state letter from /proc ('\0' once it is gone) and its parent.
struct CProcessState {
  char state = '\0';
  pid_t parent = 0;
};

CProcessState StateOf(pid_t pid) {
  CProcessState process;
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(file, stat)) return process;
  const size_t name = stat.rfind(')');
  if (name == std::string::npos) return process;
  std::istringstream rest(stat.substr(name + 1));
  rest >> process.state >> process.parent;
  return process;
}

// A zombie has stopped; only its parent has not asked how.
bool IsRunning(pid_t pid) {
  const char state = StateOf(pid).state;
  return state != '\0' && state != 'Z' && state != 'X';
}

std::vector<pid_t> RunningChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  DIR* proc = opendir("/proc");
  if (!proc) return children;
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    if (StateOf(static_cast<pid_t>(pid)).parent == parent && IsRunning(static_cast<pid_t>(pid))) {
      children.push_back(static_cast<pid_t>(pid));
    }
  }
  closedir(proc);
  return children;
}

// Polls `done` every few milliseconds for at most `limit`.
template <typename Done>
bool WaitUntil(Done done, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class BatchStopTest : public BatchRunTest {
 protected:
  // Starts the program in a process group of its own, with the stop signals
  // as a terminal's shell leaves them, its messages going to `log`.
  pid_t Start(const std::vector<std::string>& arguments, const std::string& log) const {
    std::vector<std::string> words{"kelvane"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
      const std::string text(*entry);
      if (text.rfind("DISPLAY=", 0) != 0 && text.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
          text.rfind("XDG_CONFIG_HOME=", 0) != 0) {
        environment.push_back(text);
      }
    }
    environment.push_back("XDG_CONFIG_HOME=" + Path("config"));
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const std::string program = std::string(KELVANE_BIN_DIR) + "/kelvane";
    const std::string logPath = Path(log);
    const std::string folder = m_dir.string();

    const pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      for (const int stop : {SIGINT, SIGTERM, SIGHUP}) signal(stop, SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      const int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || chdir(folder.c_str()) != 0) _exit(127);
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
      execve(program.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    if (pid > 0) setpgid(pid, pid);  // either side may get there first
    return pid;
  }

  // What is left in the result folder: whole pictures, nothing hidden.
  void ExpectOnlyWholeResults(const std::string& folder) const {
    std::error_code missing;
    for (fs::recursive_directory_iterator it(m_dir / folder, missing), end; !missing && it != end;
         ++it) {
      const std::string name = it->path().filename().string();
      EXPECT_NE(name[0], '.') << name;
      CPicture picture;
      std::string error;
      EXPECT_TRUE(ReadPicture(it->path().string(), picture, error)) << error;
    }
  }
};

}  // namespace

TEST_F(BatchStopTest, AStoppedOrKilledBatchLeavesNoProcessRunningAndNoPartialFile) {
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(WritePicture(m_dir / "in" / ("p" + std::to_string(i) + ".png"), 200, 160, i));
  }
  // Minutes of work for each picture: were the processes not stopped, they
  // would still run when the waits below give up.
  std::string script = "object 100,150\n";
  for (int i = 0; i < 20000; ++i) {
    script += "background " + std::to_string(2 + i % 190) + ",2 " + std::to_string(190 - i % 180) +
              ",60\napply\n";
  }
  WriteText("slow.txt", script + "ok\n");

  struct Case {
    int signal;
    bool group;  // Ctrl-C reaches the whole process group
  };
  for (const Case c : {Case{SIGTERM, false}, Case{SIGINT, true}, Case{SIGKILL, false}}) {
    const std::string what = strsignal(c.signal) + std::string(c.group ? " to the group" : "");
    const std::string out = "out-" + std::to_string(c.signal);
    const std::string log = "log-" + std::to_string(c.signal);
    const pid_t batch = Start({"--script", "slow.txt", "--out-dir", out, "--jobs", "2", "in"}, log);
    ASSERT_GT(batch, 0);
    std::vector<pid_t> children;
    const bool started = WaitUntil(
        [&] {
          children = RunningChildrenOf(batch);
          return children.size() == 2 || !IsRunning(batch);
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(started && children.size() == 2) << what << "\n" << ReadAll(m_dir / log);
    kill(c.group ? -batch : batch, c.signal);

    int status = 0;
    const bool ended = WaitUntil([&] { return waitpid(batch, &status, WNOHANG) == batch; },
                                 std::chrono::seconds(30));
    const bool childrenEnded = WaitUntil(
        [&] {
          for (const pid_t child : children) {
            if (IsRunning(child)) return false;
          }
          return true;
        },
        std::chrono::seconds(30));
    if (!ended || !childrenEnded) {
      kill(-batch, SIGKILL);
      for (const pid_t child : children) kill(child, SIGKILL);
      if (!ended) waitpid(batch, &status, 0);
    }
    EXPECT_TRUE(ended) << what;
    EXPECT_TRUE(childrenEnded) << what;
    // Ended by the signal, so a calling shell stops too.
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << what << " " << status;
    if (c.signal != SIGKILL) {
      EXPECT_NE(ReadAll(m_dir / log).find("stopped ("), std::string::npos)
          << what << "\n" << ReadAll(m_dir / log);
      EXPECT_NE(ReadAll(m_dir / log).find(" 4 not done"), std::string::npos)
          << what << "\n" << ReadAll(m_dir / log);
    }
    ExpectOnlyWholeResults(out);
  }
}
