// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line renderer never loses an earlier output: where no file
// can be made beside it, renders and analyses are refused before they
// write, and the earlier file stays as it was.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/renderer_process.h"
#include "support/file_system_support.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode = -1;
  std::string err;
};

class EarlierOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    picture = dir.file("white.png");
    QImage image(16, 8, QImage::Format_RGB32);
    image.fill(qRgb(255, 255, 255));
    ASSERT_TRUE(image.save(QString::fromStdString(picture)));
    wave = dir.file("in.wav");
    test::writeFile(wave, test::waveBytes(test::pcm16Bytes(test::speechLike(20000, 1000.0)), 1, 16, 44100));
  }

  // Runs the renderer held to the files' permission bits even as root.
  Outcome run(const std::vector<std::string>& args) {
    test::RendererLimits limits;
    limits.permissionBitsHold = true;
    const test::RendererOutcome o = test::runRenderer(dir.path(), args, limits);
    return Outcome{o.exitCode, o.err};
  }

  // Renders and analyses into `folder`, whose earlier files must be
  // refused with `reason` and kept.
  void refusedAndKept(const std::string& folder, const std::string& reason) {
    const std::string sound = folder + "/take.wav";
    const std::string image = folder + "/take.png";
    const std::vector<std::string> before = names(folder);
    struct Case {
      std::vector<std::string> args;
      std::string output, kind;
    };
    const Case cases[] = {
        {{picture, sound, "--duration", "0.5"}, sound, "output wave file"},
        {{picture, sound, "--input", wave}, sound, "output wave file"},
        {{"--analyse", wave, image, "--size", "8x4"}, image, "picture file"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.args[0] + " " + c.output);
      const Outcome o = run(c.args);
      EXPECT_EQ(o.exitCode, 1);
      EXPECT_EQ(o.err, "vellomar-render: Cannot create " + c.kind + " '" + c.output +
                           "'\nvellomar-render: No new file can be made in its folder (" + reason +
                           "); the earlier file is left as it was, since writing over it in place could lose it.\n");
    }
    EXPECT_EQ(test::readFile(sound), earlier);
    EXPECT_EQ(test::readFile(image), earlier);
    EXPECT_EQ(names(folder), before);
  }

  static std::vector<std::string> names(const std::string& folder) {
    std::vector<std::string> list;
    for (const auto& entry : fs::directory_iterator(folder)) list.push_back(entry.path().filename().string());
    std::sort(list.begin(), list.end());
    return list;
  }

  test::TempDir dir;
  std::string picture;
  std::string wave;
  const std::vector<std::uint8_t> earlier = {'m', 'i', 'n', 'e'};
};

// A folder the user may not write that holds files the user may: the
// render cannot make its file beside them, and does not write over them.
TEST_F(EarlierOutputTest, AReadOnlyFolderWithWritableEarlierFiles) {
  const std::string folder = dir.file("locked");
  fs::create_directory(folder);
  test::writeFile(folder + "/take.wav", earlier);
  test::writeFile(folder + "/take.png", earlier);
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  refusedAndKept(folder, "Permission denied");

  // A new name there cannot be made at all.
  const Outcome o = run({picture, folder + "/new.wav", "--duration", "0.5"});
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_EQ(o.err,
            "vellomar-render: Cannot create output wave file '" + folder + "/new.wav'\nvellomar-render: Permission denied\n");
  ::chmod(folder.c_str(), 0755);
  EXPECT_FALSE(test::fileExists(folder + "/new.wav"));
}

// A file system with no inode left: nothing new can be made on it.
TEST_F(EarlierOutputTest, AFileSystemWithoutFreeInodes) {
  const std::string folder = dir.file("full");
  fs::create_directory(folder);
  const test::TmpfsMount tmpfs(folder, "size=1m,nr_inodes=32");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  test::writeFile(folder + "/take.wav", earlier);
  test::writeFile(folder + "/take.png", earlier);
  ASSERT_GT(test::useUpInodes(folder), 0);
  refusedAndKept(folder, "No space left on device");
}

}  // namespace
}  // namespace vellomar
