// SPDX-License-Identifier: GPL-3.0-or-later
// What the render command line's tests share: the renderer started as a
// child process on files made in a fresh folder, and what it said and left.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vellomar::test {

struct Outcome {
  int exitCode = -1;
  std::string err;  // what the program wrote to stderr
  std::string out;  // and to stdout
};

// Starts the renderer with `args` and the given file actions; returns what
// posix_spawn returned.
int spawnRenderer(const std::vector<std::string>& args, const posix_spawn_file_actions_t& actions, pid_t& pid);

class RenderCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    white = dir.file("white.png");
    savePicture(white, 24, 12, [](int, int) { return 255; });
  }

  // Starts the renderer with `args`; its output goes to files in the temp dir.
  pid_t start(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, dir.file("stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, dir.file("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(spawnRenderer(args, actions, pid), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  Outcome finish(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome o;
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    const auto err = test::readFile(dir.file("stderr.txt"));
    const auto out = test::readFile(dir.file("stdout.txt"));
    o.err.assign(err.begin(), err.end());
    o.out.assign(out.begin(), out.end());
    return o;
  }

  Outcome run(const std::vector<std::string>& args) { return finish(start(args)); }

  template <typename F>
  static void savePicture(const std::string& path, int w, int h, F brightness) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int v = brightness(x, y);
        image.setPixel(x, y, qRgb(v, v, v));
      }
    }
    ASSERT_TRUE(image.save(QString::fromStdString(path)));
  }

  std::string writeWave(const std::string& name, const std::vector<std::int16_t>& samples) {
    const std::string path = dir.file(name);
    test::writeFile(path, test::waveBytes(test::pcm16Bytes(samples), 1, 16, 44100));
    return path;
  }

  test::TempDir dir;
  std::string white;
};

}  // namespace vellomar::test
