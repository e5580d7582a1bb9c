#include "platform/ResourceFormats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(AcceleratorTable, TypedCharactersGiveTheirCommands) {
  int id = 0;
  std::vector<CAccelerator> table;
  std::string error;
  ASSERT_TRUE(ParseAcceleratorTable("ACCELERATOR 9\n \"+\" 100\n \"\xC3\xA9\" 101 # e acute\n", id, table, &error))
      << error;
  EXPECT_EQ(id, 9);
  EXPECT_EQ(TranslateAccelerator(table, U'+'), 100);
  EXPECT_EQ(TranslateAccelerator(table, U'\u00E9'), 101);
  EXPECT_EQ(TranslateAccelerator(table, U'-'), 0);

  EXPECT_FALSE(ParseAcceleratorTable("ACCELERATOR 9\n \"ab\" 100\n", id, table, &error));
  EXPECT_NE(error.find("one character"), std::string::npos);
  EXPECT_FALSE(ParseAcceleratorTable("\"+\" 100\n", id, table, &error));
  EXPECT_FALSE(ParseAcceleratorTable("", id, table, &error));
}

TEST(ToolBar, SeparatorsTakeNoPicture) {
  CToolBarResource toolBar;
  std::string error;
  ASSERT_TRUE(ParseToolBar("TOOLBAR 5\n button 16 15\n bitmap 6\n items 10 11 separator 12\n", toolBar, &error))
      << error;
  EXPECT_EQ(toolBar.id, 5);
  EXPECT_EQ(toolBar.buttonWidth, 16);
  EXPECT_EQ(toolBar.buttonHeight, 15);
  EXPECT_EQ(toolBar.bitmapId, 6);
  EXPECT_FALSE(toolBar.hasTransparent);
  EXPECT_EQ(toolBar.items, (std::vector<int>{10, 11, 0, 12}));
  EXPECT_EQ(toolBar.ButtonCount(), 3);
  EXPECT_EQ(toolBar.ImageIndex(1), 1);
  EXPECT_EQ(toolBar.ImageIndex(2), -1);
  EXPECT_EQ(toolBar.ImageIndex(3), 2);
  EXPECT_EQ(toolBar.ImageIndex(4), -1);

  EXPECT_FALSE(ParseToolBar("TOOLBAR 5\n bitmap 6\n", toolBar, &error));
  EXPECT_NE(error.find("no button size"), std::string::npos);
  EXPECT_FALSE(ParseToolBar("TOOLBAR 5\n button 16 15\n bitmap 6\n items 10 bar\n", toolBar, &error));
  EXPECT_FALSE(ParseToolBar("TOOLBAR 5\n button 16 15\n bitmap 6\n transparent 300 0 0\n", toolBar, &error));
}

// An icon-directory file with one entry pointing at `payload`.
std::vector<uint8_t> IconFile(uint16_t kind, const std::vector<uint8_t>& payload, uint32_t offset, uint32_t size) {
  std::vector<uint8_t> bytes = {0, 0, static_cast<uint8_t>(kind), 0, 1, 0,
                                32, 32, 0, 0, 7, 0, 9, 0};
  for (uint32_t v : {size, offset}) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

const std::vector<uint8_t> kPngStart = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2};

TEST(IconDirectory, ReadsPicturesAndACursorsHotSpot) {
  // The pictures point into the file's bytes, which must outlive them.
  const std::vector<uint8_t> file = IconFile(2, kPngStart, 22, 10);
  std::vector<CIconPicture> pictures;
  ASSERT_TRUE(ParseIconDirectory(file, true, pictures));
  ASSERT_EQ(pictures.size(), 1u);
  EXPECT_EQ(pictures[0].width, 32);
  EXPECT_EQ(pictures[0].hotspotX, 7);
  EXPECT_EQ(pictures[0].hotspotY, 9);
  EXPECT_EQ(pictures[0].png.size(), 10u);
  EXPECT_EQ(pictures[0].png[9], 2);

  const std::vector<uint8_t> icon = IconFile(1, kPngStart, 22, 10);
  ASSERT_TRUE(ParseIconDirectory(icon, false, pictures));
  EXPECT_EQ(pictures[0].hotspotX, 0);  // an icon's entry has planes and depth there
}

// The directory's sizes and offsets come from the file: none may reach past it.
TEST(IconDirectory, RefusesEntriesOutsideTheFileOrOfAnotherKind) {
  std::vector<CIconPicture> pictures;
  EXPECT_FALSE(ParseIconDirectory(IconFile(1, kPngStart, 22, 10), true, pictures));   // an icon, not a cursor
  EXPECT_FALSE(ParseIconDirectory(IconFile(2, kPngStart, 22, 11), true, pictures));   // one byte too long
  EXPECT_FALSE(ParseIconDirectory(IconFile(2, kPngStart, 0xFFFFFFF0u, 10), true, pictures));
  EXPECT_FALSE(ParseIconDirectory(IconFile(2, kPngStart, 22, 0xFFFFFFFFu), true, pictures));
  std::vector<uint8_t> bitmapPicture(kPngStart);
  bitmapPicture[1] = 'X';
  EXPECT_FALSE(ParseIconDirectory(IconFile(2, bitmapPicture, 22, 10), true, pictures));
  std::vector<uint8_t> shortDirectory = IconFile(2, kPngStart, 22, 10);
  shortDirectory.resize(12);
  EXPECT_FALSE(ParseIconDirectory(shortDirectory, true, pictures));
  EXPECT_FALSE(ParseIconDirectory({}, true, pictures));
}

}  // namespace
