// The command line as users type it.
#include "tools/kelvane/HostOptions.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/kelvane/HostProgram.h"

namespace {

TEST(HostOptions, CommandLinesAreReadOrRefused) {
  CHostOptions options;
  std::string error;
  ASSERT_TRUE(ParseHostOptions({"--plugins", "dir", "--planes-as-file", "in.png", "out.png"},
                               options, error));
  EXPECT_EQ(options.pluginFolder, "dir");
  EXPECT_TRUE(options.planesAsFile);
  EXPECT_EQ(options.input, "in.png");
  EXPECT_EQ(options.output, "out.png");
  EXPECT_EQ(PluginFolders(options), std::vector<std::string>{"dir"});
  ASSERT_TRUE(ParseHostOptions({"--plugins=other", "in.png"}, options, error));
  EXPECT_EQ(options.pluginFolder, "other");

  ASSERT_TRUE(ParseHostOptions({"--", "--odd-name.png"}, options, error));
  EXPECT_EQ(options.input, "--odd-name.png");

  ASSERT_TRUE(ParseHostOptions({"--script", "s.txt", "a.png", "b.png"}, options, error));
  EXPECT_EQ(options.script, "s.txt");
  EXPECT_EQ(options.input, "a.png");
  EXPECT_EQ(options.output, "b.png");
  EXPECT_FALSE(options.presets);
  // Without OUTPUT the result goes beside the input, also with a script.
  ASSERT_TRUE(ParseHostOptions({"--script", "s.txt", "a.png"}, options, error)) << error;
  EXPECT_EQ(options.output, "");
  // Options may stand among the files, as users type them.
  ASSERT_TRUE(ParseHostOptions({"a.png", "--presets", "b.png", "--mask"}, options, error));
  EXPECT_TRUE(options.presets);
  EXPECT_TRUE(options.mask);
  EXPECT_EQ(options.input, "a.png");
  EXPECT_EQ(options.output, "b.png");
  ASSERT_TRUE(ParseHostOptions({"--record", "session.txt", "a.png"}, options, error)) << error;
  EXPECT_EQ(options.record, "session.txt");
  EXPECT_EQ(options.input, "a.png");
  ASSERT_TRUE(ParseHostOptions({"--demo"}, options, error));
  EXPECT_TRUE(options.demo);
  EXPECT_EQ(options.input, "");
  EXPECT_EQ(options.output, "");
  // The demo's one file is where its result goes; its input is the sample.
  ASSERT_TRUE(ParseHostOptions({"--demo", "d.png"}, options, error));
  EXPECT_EQ(options.input, "");
  EXPECT_EQ(options.output, "d.png");

  ASSERT_TRUE(ParseHostOptions({"--script", "s.txt", "--format", ".WebP", "-", "-"}, options,
                               error)) << error;
  EXPECT_EQ(options.input, "-");
  EXPECT_EQ(options.output, "-");
  EXPECT_EQ(options.format, "webp");
  ASSERT_TRUE(ParseHostOptions({"--flatten", "#FF8000", "--strip", "a.jpg", "b.jpg"}, options,
                               error));
  EXPECT_TRUE(options.flatten);
  EXPECT_EQ(options.flattenColour, (CFlattenColour{255, 128, 0}));
  EXPECT_TRUE(options.strip);

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"a.png", "b.png", "c.png"}, {"--plugins"}, {"--frobnicate"},
        {"--list", "a.png"}, {"--script"}, {"--script", "s.txt"},
        {"--script", "s.txt", "a.png", "b.png", "c.png"}, {"--demo", "a.png", "b.png"},
        {"--demo", "--list"}, {"--demo", "--script", "s.txt", "a.png", "b.png"},
        {"--list", "--presets"}, {"--flatten", "pink", "a.png"}, {"--flatten", "#12345", "a.png"},
        {"--mask", "--flatten", "white", "a.png"}, {"--jobs", "2", "a.png"},
        {"--script", "s.txt", "--out-dir", "d", "--jobs", "0", "a.png"},
        {"--script", "s.txt", "--out-dir", "d", "--jobs", "two", "a.png"},
        {"--out-dir", "d", "a.png"}, {"--script", "s.txt", "--out-dir", "d"},
        {"--script", "s.txt", "--out-dir", "d", "-"}, {"--recursive", "a.png"},
        {"--format", "png", "a.png", "b.tif"}, {"-", "out.png"}, {"--record"},
        {"--record", "r.txt", "--script", "s.txt", "a.png"}, {"--record", "r.txt", "--demo"},
        {"--record", "r.txt", "--list"},
        {"--record", "r.txt", "--script", "s.txt", "--out-dir", "d", "a.png"}}) {
    error.clear();
    EXPECT_FALSE(ParseHostOptions(bad, options, error)) << bad[0] << " " << bad.back();
    EXPECT_FALSE(error.empty());
  }
}

// A refusal names the word the user typed, and says how to pass a file whose
// name begins with '-'.
TEST(HostOptions, AnUnknownOptionIsNamedAsTyped) {
  CHostOptions options;
  std::string error;
  const auto refusal = [&](const std::vector<std::string>& arguments) {
    error.clear();
    EXPECT_FALSE(ParseHostOptions(arguments, options, error));
    return error;
  };
  EXPECT_NE(refusal({"-x.jpg"}).find("unknown option '-x' in '-x.jpg'"), std::string::npos)
      << error;
  EXPECT_NE(error.find("kelvane -- -x.jpg"), std::string::npos) << error;
  EXPECT_NE(refusal({"--mask", "-x.jpg"}).find("'-x.jpg'"), std::string::npos) << error;
  EXPECT_EQ(error.find("--mask"), std::string::npos) << error;
  EXPECT_NE(refusal({"a.png", "-hq"}).find("unknown option '-q' in '-hq'"), std::string::npos)
      << error;
  EXPECT_NE(refusal({"--mask", "--frobnicate", "a.png"}).find("unknown option '--frobnicate'"),
            std::string::npos)
      << error;
  EXPECT_NE(refusal({"--overwrite", "--skip-existing", "--script", "s.txt", "--out-dir", "d",
                     "a.png"})
                .find("exclude each other"),
            std::string::npos)
      << error;
}

TEST(HostOptions, ABatchTakesEveryFileAsAnInput) {
  CHostOptions options;
  std::string error;
  ASSERT_TRUE(ParseHostOptions({"--script", "s.txt", "--out-dir", "done", "a.jpg", "folder",
                                "--recursive", "--jobs", "3", "--skip-existing", "b.tif"},
                               options, error)) << error;
  EXPECT_TRUE(options.Batch());
  EXPECT_EQ(options.inputs, (std::vector<std::string>{"a.jpg", "folder", "b.tif"}));
  EXPECT_TRUE(options.recursive);
  EXPECT_EQ(options.jobs, 3);
  EXPECT_TRUE(options.skipExisting);
}

TEST(HostOptions, ThreadsAreACountForOnePictureOrABatch) {
  CHostOptions options;
  std::string error;
  ASSERT_TRUE(ParseHostOptions({"--threads", "3", "a.png"}, options, error)) << error;
  EXPECT_EQ(options.threads, 3);
  options = CHostOptions();
  ASSERT_TRUE(ParseHostOptions({"--script", "s.txt", "--out-dir", "d", "--threads", "1", "a.png"},
                               options, error)) << error;
  EXPECT_EQ(options.threads, 1);
  for (const char* bad : {"0", "257", "two", ""}) {
    error.clear();
    EXPECT_FALSE(ParseHostOptions({"--threads", bad, "a.png"}, options, error)) << bad;
    EXPECT_NE(error.find("--threads"), std::string::npos) << error;
  }
}

TEST(HostOptions, TheResultGoesBesideTheInputInTheFormatAsked) {
  CHostOptions options;
  options.input = "pictures/cat.png";
  EXPECT_EQ(DefaultOutputPath(options), "pictures/cat.kelvane.png");
  options.input = "/tmp/a.b.jpg";
  EXPECT_EQ(DefaultOutputPath(options), "/tmp/a.b.kelvane.png");
  options.format = "webp";
  EXPECT_EQ(DefaultOutputPath(options), "/tmp/a.b.kelvane.webp");
  options.mask = true;
  EXPECT_EQ(DefaultOutputPath(options), "/tmp/a.b.mask.webp");
  options = CHostOptions();
  EXPECT_EQ(DefaultOutputPath(options), "sample.kelvane.png");
  options.input = "-";
  EXPECT_EQ(DefaultOutputPath(options), "-");

  // The name decides; --format only where no name does.
  options = CHostOptions();
  EXPECT_EQ(OutputFormatOf(options, "out.TIF"), "tif");
  EXPECT_EQ(OutputFormatOf(options, "folder.d/out"), "");
  EXPECT_EQ(OutputFormatOf(options, "-"), "png");
  options.format = "jxl";
  EXPECT_EQ(OutputFormatOf(options, "-"), "jxl");
  EXPECT_EQ(OutputFormatOf(options, "out.webp"), "webp");
}

}  // namespace

// The usage is read on an 80-column terminal, and lists what the parser
// takes: an option it names is accepted, one it leaves out is internal.
TEST(HostOptions, TheUsageFitsATerminalAndNamesWhatIsAccepted) {
  const std::string usage = HostUsage();
  std::istringstream lines(usage);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  for (const char* name :
       {"--script", "--record", "--format", "--flatten", "--mask", "--strip", "--out-dir",
        "--recursive", "--jobs", "--skip-existing", "--overwrite", "--threads", "--plugins",
        "--planes-as-file", "--presets", "--demo", "--list", "--version", "-h, --help"}) {
    EXPECT_NE(usage.find(std::string("  ") + name + " "), std::string::npos) << name;
  }
  EXPECT_EQ(usage.find("--memory-share"), std::string::npos);
}

// Every option a batch alone takes is refused without one, each by name.
TEST(HostOptions, BatchOptionsAndExclusionsNameEveryOptionConcerned) {
  CHostOptions options;
  std::string error;
  for (const std::vector<std::string>& line :
       {std::vector<std::string>{"--recursive", "a.png"}, {"--jobs", "2", "a.png"},
        {"--skip-existing", "a.png"}}) {
    EXPECT_FALSE(ParseHostOptions(line, options, error)) << line[0];
    EXPECT_NE(error.find("--recursive, --jobs and --skip-existing go with --out-dir"),
              std::string::npos)
        << error;
  }
  EXPECT_FALSE(ParseHostOptions({"--demo", "--list"}, options, error));
  EXPECT_EQ(error, "--list, --demo and --script exclude each other");
  EXPECT_FALSE(ParseHostOptions({"--jobs", "300", "--out-dir", "o", "--script", "s", "a.png"},
                                options, error));
  EXPECT_NE(error.find("not '300'"), std::string::npos) << error;
}
