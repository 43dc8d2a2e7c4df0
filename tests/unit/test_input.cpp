// The input reader: refills, positions inside and outside the buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <unistd.h>

#include "core/shell.h"
#include "session/input.h"

namespace vek {
namespace {

// Sets the reader up on a source of its own and restores it afterwards.
class Reader : public ::testing::Test {
 protected:
  std::array<unsigned char, kInputBufferSize> buffer{};
  InputState saved;
  char path[32] = "/tmp/vek_input_XXXXXX";
  int fd = -1;

  void SetUp() override { saved = input; }
  void TearDown() override {
    input = saved;
    if (fd >= 0) {
      close(fd);
      unlink(path);
    }
  }

  void use_file(const std::string& text) {
    fd = mkstemp(path);
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    lseek(fd, 0, SEEK_SET);
    input = InputState{};
    input.fd = fd;
    input.mode = kModeFile;
    input.buf = input.rp = input.end = buffer.data();
  }

  std::string source;

  void use_string(const std::string& text) {
    source = text;
    input = InputState{};
    input.mode = kModeString;
    input.string_text = source.c_str();
    input.string_length = source.size();
    input.position_unknown = false;
    input.buf = input.rp = input.end = buffer.data();
  }

  std::string read(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>(next_char());
    return s;
  }
};

std::string numbered(int lines) {
  std::string s;
  for (int i = 0; i < lines; ++i) s += "line " + std::to_string(i) + " with some text to fill\n";
  return s;
}

TEST_F(Reader, StringGetsALineFeedAndTranslatedControlBytes) {
  std::string text = "a\x1c" "b\x1d" "c\x1e\x1f";
  use_string(text);
  EXPECT_EQ(read(7), std::string("a b\tc\r\n") );
  EXPECT_EQ(next_char(), '\n');
  EXPECT_EQ(next_char(), kEof);
  EXPECT_EQ(next_char(), kEof);
}

TEST_F(Reader, PositionsInsideTheBuffer) {
  use_string("echo hello\n");
  EXPECT_EQ(read(5), "echo ");
  EXPECT_EQ(input_position(0, true), 5);
  EXPECT_EQ(input_position(1, false), 1);
  EXPECT_EQ(read(3), "cho");
  EXPECT_EQ(input_position(-2, true), 2);
  EXPECT_EQ(read(2), "ho");
}

TEST_F(Reader, LongStringIsReadInPiecesAndCanGoBack) {
  std::string text = numbered(200);  // several buffers long
  use_string(text);
  std::string all;
  for (;;) {
    int c = next_char();
    if (c == kEof) break;
    all += static_cast<char>(c);
  }
  EXPECT_EQ(all, text + "\n");
  // Back to a position long gone from the buffer.
  EXPECT_EQ(input_position(100, false), 100);
  EXPECT_EQ(read(10), text.substr(100, 10));
  EXPECT_EQ(input_position(0, true), 110);
}

TEST_F(Reader, FileSourceSeeksOutsideTheBuffer) {
  std::string text = numbered(300);
  use_file(text);
  EXPECT_EQ(read(3000), text.substr(0, 3000));
  EXPECT_EQ(input_position(0, true), 3000);
  EXPECT_EQ(input_position(10, false), 10);
  EXPECT_EQ(read(20), text.substr(10, 20));
  EXPECT_EQ(input_position(5000, false), 5000);
  EXPECT_EQ(read(5), text.substr(5000, 5));
}

TEST_F(Reader, CountsLinesAndComesBack) {
  std::string text = numbered(300);
  use_file(text);
  read(4000);
  std::int64_t here = input_position(0, true);
  EXPECT_EQ(input_count_lines(0, here), std::count(text.begin(), text.begin() + 4000, '\n'));
  input_position(here, false);
  EXPECT_EQ(read(10), text.substr(4000, 10));
}

// A pipe cannot seek: positions count its bytes, and the reader can go
// back only as far as the text it still holds.
class PipeReader : public Reader {
 protected:
  int fds[2] = {-1, -1};
  HoldArea area;
  std::string text;

  void use_pipe(std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) text += static_cast<char>('a' + (i * 7 + i / 26) % 26);
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fds[1]);
    input = InputState{};
    input.fd = fds[0];
    input.buf = input.rp = input.end = buffer.data();
    input.hold_area = &area;
  }
  void TearDown() override {
    Reader::TearDown();
    if (fds[0] >= 0) close(fds[0]);
  }
};

TEST_F(PipeReader, MovesBackOnlyInsideItsBuffer) {
  use_pipe(3000);
  EXPECT_EQ(read(10), text.substr(0, 10));
  EXPECT_EQ(input_position(0, true), 10);
  EXPECT_EQ(input_position(2, false), 2);
  EXPECT_EQ(read(3), text.substr(2, 3));
  EXPECT_EQ(input_position(2900, false), -1);  // not read yet
  EXPECT_EQ(read(2100), text.substr(5, 2100));  // a second refill
  EXPECT_EQ(input_position(0, true), 2105);
  EXPECT_EQ(input_position(100, false), -1);   // gone with the first buffer
  EXPECT_EQ(input_position(2050, false), 2050);
  EXPECT_EQ(read(5), text.substr(2050, 5));
  EXPECT_TRUE(area.empty());
}

TEST_F(PipeReader, KeepsTheTextOfALoopAcrossRefills) {
  use_pipe(9000);
  EXPECT_EQ(read(100), text.substr(0, 100));
  input.loop_hold = 100;
  EXPECT_EQ(read(7000), text.substr(100, 7000));
  EXPECT_EQ(input_position(100, false), 100);
  EXPECT_EQ(read(7500), text.substr(100, 7500));
  EXPECT_EQ(input_position(4000, false), 4000);
  EXPECT_EQ(read(20), text.substr(4000, 20));
  // Released: the next refill drops what came before.
  input.loop_hold = -1;
  EXPECT_EQ(input_position(7600, false), 7600);
  EXPECT_EQ(read(1400), text.substr(7600, 1400));
  EXPECT_EQ(read(1)[0], '\xff');
  EXPECT_EQ(input_position(100, false), -1);
}

}  // namespace
}  // namespace vek
