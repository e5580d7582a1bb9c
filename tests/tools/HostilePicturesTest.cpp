// Files made to look like pictures: other formats under a picture's name,
// names the picture library would parse, streams that never end, headers
// that promise more than the data holds. Each is refused or read exactly,
// with nothing of any other file in what the program writes or says.
#include <gtest/gtest.h>
#include <hdf5.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "KelvaneRun.h"
#include "LibraryImages.h"
#include "PictureTestFiles.h"
#include "tools/kelvane/BatchRun.h"
#include "tools/kelvane/PictureReader.h"
#include "tools/kelvane/PictureWriter.h"
#include "tools/kelvane/PictureLimits.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSession = "object 0,0\napply\nok\n";
// What no output or message may carry.
constexpr const char* kSecret = "KELVANE-SECRET-7f3a9c";

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

CPicture Gradient(int width, int height) {
  CPicture picture;
  picture.width = width;
  picture.height = height;
  picture.channels = 3;
  picture.bytes.resize(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < picture.bytes.size(); ++i) {
    picture.bytes[i] = static_cast<uint8_t>(i * 7 + i / 97);
  }
  return picture;
}

// A MAT file in HDF5 (behind a 128-byte header in the user block) whose one
// variable, a 16 x 16 uint8 matrix, is stored in another file: whoever reads
// the variable reads `external`. Its text says version 5, which is what the
// picture library checks; the version field says HDF5, which is what the
// decoder behind it follows.
void WriteMatWithExternalData(const std::string& path, const std::string& external) {
  const hid_t creation = H5Pcreate(H5P_FILE_CREATE);
  ASSERT_GE(H5Pset_userblock(creation, 512), 0);
  const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, creation, H5P_DEFAULT);
  ASSERT_GE(file, 0);
  const hsize_t dims[2] = {16, 16};
  const hid_t space = H5Screate_simple(2, dims, nullptr);
  const hid_t layout = H5Pcreate(H5P_DATASET_CREATE);
  ASSERT_GE(H5Pset_external(layout, external.c_str(), 0, 256), 0);
  const hid_t set = H5Dcreate2(file, "x", H5T_NATIVE_UINT8, space, H5P_DEFAULT, layout,
                               H5P_DEFAULT);
  ASSERT_GE(set, 0);
  const hid_t text = H5Tcopy(H5T_C_S1);
  H5Tset_size(text, 5);
  const hid_t scalar = H5Screate(H5S_SCALAR);
  const hid_t kind = H5Acreate2(set, "MATLAB_class", text, scalar, H5P_DEFAULT, H5P_DEFAULT);
  ASSERT_GE(H5Awrite(kind, text, "uint8"), 0);
  H5Aclose(kind);
  H5Sclose(scalar);
  H5Tclose(text);
  H5Dclose(set);
  H5Pclose(layout);
  H5Sclose(space);
  H5Fclose(file);
  H5Pclose(creation);

  std::string header = "MATLAB 5.0 MAT-file, Platform: GLNXA64, Created on: Thu Dec 10 12:00:00 "
                       "2026 HDF5 schema 1.00 .";
  header.resize(116, ' ');
  header += std::string(8, '\0');     // no subsystem data
  header += std::string("\x00\x02", 2);  // version 0x0200, little-endian
  header += "IM";
  std::fstream mat(path, std::ios::in | std::ios::out | std::ios::binary);
  mat.write(header.data(), static_cast<std::streamsize>(header.size()));
}

// An SVG under a JPEG's name that pulls in a local picture and a local text
// file, its root pushed past where the library's own SVG check looks by a
// long comment, so that only the catch-all loader would take it.
std::string PaddedSvg(const std::string& picture, const std::string& text) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- " + std::string(8192, 'x') +
         " -->\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
         "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
         "xmlns:xi=\"http://www.w3.org/2001/XInclude\" width=\"64\" height=\"64\">\n"
         "<image xlink:href=\"" + picture + "\" width=\"64\" height=\"64\"/>\n"
         "<text x=\"0\" y=\"32\"><xi:include href=\"" + text + "\" parse=\"text\"/></text>\n"
         "</svg>\n";
}

// A whole JPEG whose frame header is made to declare `side` x `side`: the
// data ends long before the rows it declares.
std::string JpegDeclaring(const std::string& path, int side) {
  std::string bytes = ReadAll(path);
  const size_t frame = bytes.find("\xFF\xC0");
  if (frame == std::string::npos || frame + 9 > bytes.size()) return {};
  for (size_t at : {frame + 5, frame + 7}) {
    bytes[at] = static_cast<char>(side >> 8);
    bytes[at + 1] = static_cast<char>(side & 0xFF);
  }
  return bytes;
}

struct CFedRun {
  int status = -1;
  uint64_t taken = 0;  // bytes the program let into its standard input
  long peakKib = 0;
  std::string said;
};

class HostilePicturesTest : public CKelvaneFolderTest {
 protected:
  void SetUp() override {
    CKelvaneFolderTest::SetUp();
    WriteText("s.txt", kSession);
    std::string secret;
    while (secret.size() < 256) secret += std::string(kSecret) + "\n";
    secret.resize(256);
    WriteText("secret.txt", secret);
    std::string error;
    ASSERT_TRUE(WritePicture(Path("photo.jpg"), "jpg", Gradient(64, 48), false, true, error))
        << error;
  }

  // The files in the folder, the program's own settings left out.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(m_dir)) {
      const std::string name = entry.path().lexically_relative(m_dir).string();
      if (entry.is_regular_file() && name.rfind("config", 0) != 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Nothing the program said holds the secret, and it wrote no file at all
  // (a written picture, compressed, could hold it unseen).
  void ExpectNothingLeaked(const CRun& run, const std::vector<std::string>& before) {
    EXPECT_EQ(run.output.find(kSecret), std::string::npos) << run.output;
    EXPECT_EQ(Files(), before);
  }

  void ExpectRefusedNaming(const CRun& run, const std::string& name) {
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find(name), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("JPEG, PNG, TIFF"), std::string::npos) << run.output;
    EXPECT_FALSE(Exists("out.png"));
  }

  // `name` is refused whether named or on standard input, leaks nothing and
  // is no picture to a batch's folder scan.
  void ExpectRefusedAsFileAndStream(const std::string& name) {
    const std::vector<std::string> before = Files();
    CRun run = Kelvane("--script s.txt " + name + " out.png");
    ExpectRefusedNaming(run, "'" + name + "'");
    ExpectNothingLeaked(run, before);
    run = Kelvane("--script s.txt - out.png < " + name);
    ExpectRefusedNaming(run, "standard input");
    ExpectNothingLeaked(run, before);
    EXPECT_FALSE(IsPictureFile(Path(name)));
  }

  // The program with `head` and then zeros, `total` bytes in all, on its
  // standard input for as long as it takes them; what it said goes to a file.
  CFedRun Feed(const std::vector<std::string>& arguments, const std::string& head,
               uint64_t total) {
    CFedRun run;
    const std::string program = std::string(KELVANE_BIN_DIR) + "/kelvane";
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string saidPath = Path("said.txt");
    int ends[2];
    if (pipe(ends) != 0) return run;
    const pid_t child = fork();
    if (child < 0) return run;
    if (child == 0) {
      // Straight to exec: nothing of this process runs in the child.
      if (chdir(m_dir.c_str()) != 0) _exit(99);
      const int said = open(saidPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(ends[0], STDIN_FILENO);
      dup2(said, STDOUT_FILENO);
      dup2(said, STDERR_FILENO);
      close(ends[0]);
      close(ends[1]);
      execv(program.c_str(), argv.data());
      _exit(98);
    }
    close(ends[0]);
    // A program that stops reading closes the pipe: the write fails instead
    // of ending this process.
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &before);
    const std::string zeros(64 * 1024, '\0');
    std::string chunk = head;
    while (run.taken < total) {
      if (chunk.empty()) chunk = zeros.substr(0, std::min<uint64_t>(zeros.size(), total - run.taken));
      const ssize_t n = write(ends[1], chunk.data(), chunk.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      run.taken += static_cast<uint64_t>(n);
      chunk.erase(0, static_cast<size_t>(n));
    }
    close(ends[1]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    sigaction(SIGPIPE, &before, nullptr);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakKib = usage.ru_maxrss;
    run.said = ReadAll(saidPath);
    return run;
  }
};

}  // namespace

TEST_F(HostilePicturesTest, AMatFileNamedAsAJpegIsRefusedAndItsExternalDataNeverRead) {
  WriteMatWithExternalData(Path("x.jpg"), Path("secret.txt"));
  ASSERT_EQ(ReadAll(Path("x.jpg")).compare(0, 10, "MATLAB 5.0"), 0);
  ExpectRefusedAsFileAndStream("x.jpg");
}

TEST_F(HostilePicturesTest, AnSvgPaddedPastTheSvgCheckIsRefusedAndPullsInNoLocalFile) {
  std::string error;
  CPicture red;
  red.width = red.height = 64;
  red.channels = 3;
  red.bytes.assign(64 * 64 * 3, 0);
  for (size_t i = 0; i < red.bytes.size(); i += 3) red.bytes[i] = 255;
  ASSERT_TRUE(WritePicture(Path("local.png"), "png", red, false, true, error)) << error;
  WriteBytes(Path("upload.jpg"), PaddedSvg(Path("local.png"), Path("secret.txt")));
  ExpectRefusedAsFileAndStream("upload.jpg");
}

// Every promised format is read, by its content and whatever its name; the
// library's other formats are not, even under a picture's name.
TEST_F(HostilePicturesTest, OnlyThePromisedFormatsAreRead) {
  std::string error;
  const CPicture picture = Gradient(24, 16);
  std::vector<std::string> read;
  for (const char* format : {"png", "tif", "webp", "jxl", "avif"}) {
    std::string ignored;
    if (!CheckOutputFormat(std::string("x.") + format, format, true, ignored)) continue;
    const std::string name = std::string("picture-") + format + ".jpg";
    ASSERT_TRUE(WritePicture(Path(name), format, picture, false, true, error)) << error;
    read.push_back(name);
  }
  CImage image(vips_image_new_from_memory_copy(picture.bytes.data(), picture.bytes.size(), 24, 16,
                                               3, VIPS_FORMAT_UCHAR));
  for (const char* name : {"g.gif", "p.ppm"}) {
    ASSERT_EQ(vips_image_write_to_file(image.get(), Path(name).c_str(), nullptr), 0) << name;
    read.push_back(name);
  }
  for (const std::string& name : read) {
    CPicture back;
    EXPECT_TRUE(ReadPicture(Path(name), back, error)) << name << ": " << error;
    EXPECT_EQ(back.width, 24) << name;
    EXPECT_TRUE(IsPictureFile(Path(name))) << name;
  }

  ASSERT_EQ(vips_image_write_to_file(image.get(), Path("native.v").c_str(), nullptr), 0);
  fs::rename(Path("native.v"), Path("native.jpg"));
  WriteText("plain.svg.jpg",
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\"/>\n");
  WriteText("table.jpg", "1,2,3\n4,5,6\n");
  WriteText("matrix.jpg", "2 2\n1 2\n3 4\n");
  WriteText("document.jpg", "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\n%%EOF\n");
  WriteText("sky.jpg", "SIMPLE  =                    T" + std::string(50, ' ') +
                           "BITPIX  =                    8" + std::string(50, ' '));
  for (const char* name :
       {"native.jpg", "plain.svg.jpg", "table.jpg", "matrix.jpg", "document.jpg", "sky.jpg"}) {
    CPicture back;
    error.clear();
    EXPECT_FALSE(ReadPicture(Path(name), back, error)) << name;
    EXPECT_NE(error.find(name), std::string::npos) << error;
    EXPECT_NE(error.find("JPEG, PNG, TIFF"), std::string::npos) << error;
    EXPECT_FALSE(IsPictureFile(Path(name))) << name;
  }
}

// The name is the file's whole name: brackets are no options to the library.
TEST_F(HostilePicturesTest, NamesEndingInABracketAreReadAsTheFileOfThatName) {
  std::string error;
  fs::copy_file(Path("photo.jpg"), Path("holiday [2023]"));
  // A smaller picture at the name the library would make of the other one.
  ASSERT_TRUE(WritePicture(Path("shot.jpg[shrink=4]"), "jpg", Gradient(64, 48), false, true, error));
  ASSERT_TRUE(WritePicture(Path("shot.jpg"), "jpg", Gradient(8, 8), false, true, error));
  for (const char* name : {"holiday [2023]", "shot.jpg[shrink=4]"}) {
    CPicture picture;
    ASSERT_TRUE(ReadPicture(Path(name), picture, error)) << name << ": " << error;
    EXPECT_EQ(picture.width, 64) << name;
    EXPECT_EQ(picture.height, 48) << name;
    EXPECT_TRUE(IsPictureFile(Path(name))) << name;
  }
  EXPECT_FALSE(IsPictureFile(Path("holiday [2023][0]")));

  // A folder batch takes both, and neither is skipped in silence.
  fs::create_directory(Path("in"));
  fs::copy_file(Path("holiday [2023]"), Path("in/holiday [2023]"));
  fs::copy_file(Path("shot.jpg[shrink=4]"), Path("in/shot.jpg[shrink=4]"));
  const CRun run = Kelvane("--script s.txt --out-dir out in");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("2 written"), std::string::npos) << run.output;
  CPicture result;
  ASSERT_TRUE(ReadPicture(Path("out/shot.png"), result, error)) << error;
  EXPECT_EQ(result.width, 64);
  EXPECT_TRUE(Exists("out/holiday [2023].png"));
}

// A stream of zeros is refused from its first bytes; a picture's header
// followed by more than the memory a run may use is refused once past it.
// Neither is read to its end.
TEST_F(HostilePicturesTest, StandardInputIsReadNoFurtherThanItsFirstBytesOrTheMemoryLimit) {
  constexpr uint64_t kStream = 256ull << 20;
  const CFedRun zeros = Feed({"--script", "s.txt", "-", "out.png"}, std::string(), kStream);
  EXPECT_EQ(zeros.status, 2) << zeros.said;
  EXPECT_NE(zeros.said.find("standard input is not a picture"), std::string::npos) << zeros.said;
  EXPECT_LT(zeros.taken, 4u << 20);

  // A WebP that declares 2 GiB: its loader holds the whole stream in
  // memory before it decodes. The run may use 16 MB.
  const std::string webp("RIFF\xFF\xFF\xFF\x7FWEBP", 12);
  const CFedRun webpRun = Feed({"--memory-share", "16000000", "--script", "s.txt", "-", "out.png"},
                               webp, kStream);
  EXPECT_EQ(webpRun.status, 2) << webpRun.said;
  EXPECT_NE(webpRun.said.find("standard input goes on past"), std::string::npos) << webpRun.said;
  EXPECT_LT(webpRun.taken, 24u << 20);
  EXPECT_FALSE(Exists("out.png"));

  // The same picture and limit read whole when the stream is a picture.
  const std::string photo = ReadAll(Path("photo.jpg"));
  const CFedRun fine = Feed({"--memory-share", "16000000", "--script", "s.txt", "-", "out.png"},
                            photo, photo.size());
  EXPECT_EQ(fine.status, 0) << fine.said;
  EXPECT_TRUE(Exists("out.png"));
}

// An AVIF found by fuzzing whose item points past its data: libheif asserts
// on it when the stream cannot seek. From standard input as from a file it is
// refused, and the process never aborts.
TEST_F(HostilePicturesTest, AnAvifWhoseItemLiesPastItsDataIsRefusedFromAStreamToo) {
  const std::string avif = ReadAll(std::string(KELVANE_SOURCE_DIR) +
                                   "/tests/tools/hostile/avif-whose-item-lies-past-its-data.avif");
  ASSERT_FALSE(avif.empty());
  const CFedRun streamed = Feed({"--script", "s.txt", "-", "out.png"}, avif, avif.size());
  EXPECT_EQ(streamed.status, 2) << streamed.said;
  EXPECT_NE(streamed.said.find("standard input is a damaged"), std::string::npos) << streamed.said;
  WriteText("item.avif", avif);
  const CRun file = Kelvane("--script s.txt item.avif out.png");
  EXPECT_EQ(file.status, 2) << file.output;
  EXPECT_FALSE(Exists("out.png"));
}

TEST_F(HostilePicturesTest, AJpegWhoseDataEndsBeforeItsDeclaredSizeIsRefusedAtOnce) {
  // Small enough to pass the memory check: only the missing data stops it.
  WriteBytes(Path("tall.jpg"), JpegDeclaring(Path("photo.jpg"), 4000));
  ASSERT_EQ(fs::file_size(Path("tall.jpg")), fs::file_size(Path("photo.jpg")));
  CPicture picture;
  std::string error;
  EXPECT_FALSE(ReadPicture(Path("tall.jpg"), picture, error));
  EXPECT_NE(error.find("tall.jpg' is a damaged or truncated picture"), std::string::npos)
      << error;
  EXPECT_TRUE(picture.bytes.empty());

  // The whole program, from a file and from standard input, at a size that
  // may pass the memory check: refused, holding a small part of what it claims.
  const std::string huge = JpegDeclaring(Path("photo.jpg"), 19000);
  WriteBytes(Path("huge.jpg"), huge);
  for (const bool piped : {false, true}) {
    const CFedRun run = Feed({"--script", "s.txt", piped ? "-" : "huge.jpg", "out.png"},
                             piped ? huge : std::string(), piped ? huge.size() : 0);
    EXPECT_EQ(run.status, 2) << run.said;
    EXPECT_NE(run.said.find(piped ? "standard input" : "huge.jpg"), std::string::npos) << run.said;
    EXPECT_LT(run.peakKib, 400 * 1024) << run.said;
    EXPECT_FALSE(Exists("out.png"));
  }
}

// A picture that fits in the memory available but not in a quarter of it:
// read alone it gets past the memory check (and fails only for its missing
// data); in a batch of four jobs each job has a quarter, and it is refused
// from its header for its size.
TEST_F(HostilePicturesTest, EachJobOfABatchHasItsShareOfTheMemoryAvailable) {
  const double pixels = static_cast<double>(MemoryForPictures()) / 2.0 /
                        static_cast<double>(EstimatedPeakBytes(1, 1));
  const auto side = static_cast<uint32_t>(std::sqrt(pixels));
  if (side > static_cast<uint32_t>(kMaxPictureSide)) GTEST_SKIP() << "more memory than sides";
  fs::create_directory(Path("in"));
  const std::string claim = JpegDeclaring(Path("photo.jpg"), static_cast<int>(side));
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) {
    WriteBytes(Path(std::string("in/") + name), claim);
  }
  const CRun alone = Kelvane("--script s.txt in/a.jpg out.png");
  EXPECT_EQ(alone.status, 2) << alone.output;
  EXPECT_EQ(alone.output.find("of memory"), std::string::npos) << alone.output;

  const CRun batch = Kelvane("--script s.txt --jobs 4 --out-dir out in");
  EXPECT_EQ(batch.status, 4) << batch.output;
  EXPECT_NE(batch.output.find("4 failed"), std::string::npos) << batch.output;
  size_t refusals = 0;
  for (size_t at = batch.output.find("of memory"); at != std::string::npos;
       at = batch.output.find("of memory", at + 1)) {
    ++refusals;
  }
  EXPECT_GE(refusals, 4u) << batch.output;

  CHostOptions options;
  options.script = "s.txt";
  EXPECT_EQ(ChildArguments(options, CBatchPicture{"a.png", "out/a.png"}, 1, 12345),
            (std::vector<std::string>{"--script", "s.txt", "--threads", "1", "--memory-share",
                                      "12345", "--", "a.png", "out/a.png"}));
}
