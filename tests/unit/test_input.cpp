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

TEST_F(Reader, NonSeekableSourceCannotLeaveItsBuffer) {
  use_string("abc");
  input.string_text = nullptr;  // now an ordinary stream without a descriptor position
  input.mode = 0;
  input.buf[0] = 'x';
  input.buf[1] = 'y';
  input.end = input.buf + 2;
  input.rp = input.buf + 2;
  EXPECT_EQ(input_position(0, true), 2);
  EXPECT_EQ(input_position(0, false), 0);
  EXPECT_EQ(input_position(5, false), -1);
}

}  // namespace
}  // namespace vek
