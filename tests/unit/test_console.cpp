// The console emulation on its screen model, the key decoder and the
// history ring, without a terminal.
#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "io/console.h"
#include "io/editor.h"
#include "session/startup.h"
#include "support/errors.h"
#ifndef _WIN32
#include "platform/posix/keydecode.h"
#endif

namespace vek {
namespace {

std::string rendered;
void catch_output(int, const char* text, long n) { rendered.append(text, static_cast<std::size_t>(n)); }

class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_interpreter();
    console_model_reset(20, 6);
    console_set_sink(catch_output);
    rendered.clear();
  }
  void TearDown() override { console_set_sink(nullptr); }
  static void put(const std::string& s) { console_write(1, s.data(), static_cast<long>(s.size())); }
  static std::string row(int r) {
    std::string s;
    for (int c = 0; c < console_width(); ++c) s += static_cast<char>(console_cell(c, r).ch);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  static std::string typed_back() {
    std::string s;
    int k;
    while (next_injected_key(k)) s += static_cast<char>(k);
    return s;
  }
};

TEST_F(Console, TextWrapsAndScrollsTheModel) {
  put("abc\r\ndef");
  EXPECT_EQ(row(0), "abc");
  EXPECT_EQ(row(1), "def");
  EXPECT_EQ(console_column(), 3);
  put("\r\n12345678901234567890x");  // 20 columns: the 21st wraps
  EXPECT_EQ(row(2), "12345678901234567890");
  EXPECT_EQ(row(3), "x");
  put("\r\n\r\n\r\n");  // past the bottom: the screen moves up
  EXPECT_EQ(row(0), "def");
  EXPECT_EQ(console_row(), 5);
}

TEST_F(Console, CursorMovesAreClampedAndRelativeToTheWindow) {
  struct Case {
    const char* seq;
    int column, row;
  } cases[] = {
      {"\x1b[3;5H", 4, 2}, {"\x1b[2A", 4, 0}, {"\x1b[B", 4, 1},   {"\x1b[99C", 19, 1},
      {"\x1b[3D", 16, 1},  {"\x1b[2E", 0, 3}, {"\x1b[F", 0, 2},   {"\x1b[7G", 6, 2},
      {"\x1b[7`", 5, 2},   {"\x1b[4d", 5, 3}, {"\x1b[H", 0, 0},   {"\x1b[99;99f", 19, 5},
      {"\x1b[0;0H", 0, 0},
  };
  for (const Case& c : cases) {
    put(c.seq);
    EXPECT_EQ(console_column(), c.column) << c.seq + 1;
    EXPECT_EQ(console_row(), c.row) << c.seq + 1;
  }
}

TEST_F(Console, EraseInsertDeleteOnTheModel) {
  put("abcdef\r\nghijkl\r\nmnopqr");
  put("\x1b[1;3H\x1b[2P");
  EXPECT_EQ(row(0), "abef");
  put("\x1b[2@");
  EXPECT_EQ(row(0), "ab  ef");
  put("\x1b[1;2H\x1b[3X");
  EXPECT_EQ(row(0), "a   ef");
  EXPECT_EQ(console_column(), 1);
  put("\x1b[2;3H\x1b[K");
  EXPECT_EQ(row(1), "gh");
  put("\x1b[1K");
  EXPECT_EQ(row(1), "");
  put("\x1b[1;1H\x1b[M");
  EXPECT_EQ(row(0), "");
  EXPECT_EQ(row(1), "mnopqr");
  put("\x1b[L");
  EXPECT_EQ(row(2), "mnopqr");
  put("\x1b[5;5H\x1b[2J");
  EXPECT_EQ(row(2), "");
  EXPECT_EQ(console_column(), 0);
  EXPECT_EQ(console_row(), 0);
  put("top\x1b[2S");
  EXPECT_EQ(row(0), "");
  put("\x1b[1T");
  EXPECT_EQ(row(0), "");
}

TEST_F(Console, AttributesColoursAndReverse) {
  put("\x1b[31m");
  EXPECT_EQ(console_attribute(), 0x04);
  put("\x1b[1;44m");
  EXPECT_EQ(console_attribute(), 0x1C);
  put("\x1b[0m");  // bold goes, the colours stay
  EXPECT_EQ(console_attribute(), 0x14);
  put("\x1b[7m");
  EXPECT_EQ(console_attribute(), 0x70);  // the reverse of the start colours
  put("\x1b[0m");
  EXPECT_EQ(console_attribute(), 0x14);
  put("x");
  EXPECT_EQ(console_cell(0, 0).attr, 0x14);
  put("\x1b[=2F\x1b[=0G");
  EXPECT_EQ(console_attribute(), 0x02);
  put("\x1b[=0M");
  EXPECT_EQ(typed_back(), "2 0\r");
  // The terminal gets its own colour sequence.
  EXPECT_NE(rendered.find("\x1b[0;32;40m"), std::string::npos);
}

TEST_F(Console, SplitSequencesInvalidOnesAndLimits) {
  put("\x1b[3");
  EXPECT_TRUE(console_in_sequence());
  put("1mX");
  EXPECT_FALSE(console_in_sequence());
  EXPECT_EQ(console_attribute(), 0x04);
  EXPECT_EQ(row(0), "X");
  put("\x1b[xY");  // no final: the ESC is dropped, the rest is text
  EXPECT_EQ(row(0), "X[xY");
  put("\x1b");
  put("[");
  put("2;");
  put("1H");
  EXPECT_EQ(console_row(), 1);
  EXPECT_EQ(console_column(), 0);
  const struct {
    std::string text;
    const char* message;
  } limits[] = {
      {"\x1b[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17H", "ansi: esc[#;#;#"},
      {"\x1b[\"" + std::string(600, 'a') + "\";\"b\"p", "ansi: esc[\"...\""},
      {"\x1b[" + std::string(600, '1'), "ansi: esc..."},
      {"\x1bQ0/" + std::string(600, 'a') + "/", "ansi: escQFn\"..."},
  };
  for (const auto& c : limits) {
    testing_support::Capture err(2);
    EXPECT_THROW(put(c.text), ProcessExit) << c.message;
    EXPECT_EQ(err.text(), std::string("vek: Limit erreicht: '") + c.message + "'\r\n");
    EXPECT_FALSE(console_in_sequence());
  }
  put("\x1bQ0/anything/Z");  // a function-key definition is consumed
  EXPECT_EQ(console_cell(0, 1).ch, 'Z');
}

TEST_F(Console, ReportsAndSavedPositions) {
  put("\x1b[3;7H\x1b[6n");
  EXPECT_EQ(typed_back(), "3 7\r");
  put("\x1b[s\x1b[H\x1b[4s\x1b[u");
  EXPECT_EQ(console_row(), 2);
  EXPECT_EQ(console_column(), 6);
  put("\x1b[4u");
  EXPECT_EQ(console_row(), 0);
  put("\x1b[=C");
  EXPECT_EQ(typed_back(), "12 15\r");
  put("\x1b[=16;0C\x1b[=C");
  EXPECT_EQ(typed_back(), "16 0\r");
  // Colour slots.
  put("\x1b[32m\x1b[1;3s\x1b[35m\x1b[1;3u");
  EXPECT_EQ(console_attribute(), 0x02);
}

TEST_F(Console, KeyMacrosAndBeepTone) {
  put("\x1b[\"F5\";\"dir\n\";\"saF2\";65;\"a\";\"xy\"p");
  const char* text = nullptr;
  ASSERT_EQ(macro_text(260, text), 4);
  EXPECT_EQ(std::string(text, 4), "dir\r");
  ASSERT_EQ(macro_text(256 + 1 + 12 + 48, text), 1);
  EXPECT_EQ(text[0], 'A');
  ASSERT_EQ(macro_text('a', text), 2);
  put("\x1b[\"F5\";\"\"p");
  EXPECT_EQ(macro_text(260, text), 0);
  put("\x1b[\"F13\";\"x\";\"qqqqqqqqqqqqqqqqqF1\";\"x\"p");  // malformed: ignored
  EXPECT_EQ(macro_text(256, text), 0);
  // The pool of 4096 bytes takes eight texts of 500; a ninth is ignored.
  for (int k = 0; k < 9; ++k) put("\x1b[" + std::to_string(257 + k) + ";\"" + std::string(500, 'm') + "\"p");
  EXPECT_EQ(macro_text(257 + 7, text), 500);
  EXPECT_EQ(macro_text(257 + 8, text), 0);
  put("\x1b[=440;200B");
  EXPECT_EQ(beep_frequency, 440u);
  put("\x1b[=20;5B");  // 1 to 36 is ignored
  EXPECT_EQ(beep_frequency, 440u);
  put("\x1b[=0;0B");
  EXPECT_EQ(beep_frequency, 0u);
}

TEST_F(Console, ScreensKeepTheirContents) {
  put("first\x1b[1;3H");
  put("\x1b[2z");
  EXPECT_EQ(console_screen_number(), 2);
  EXPECT_EQ(row(0), "");
  EXPECT_NE(std::string(console_title()).find("-- Screen 2 --"), std::string::npos);
  put("second");
  put("\x1b[1z");
  EXPECT_EQ(row(0), "first");
  EXPECT_EQ(console_column(), 2);
  put("\x1b[2z");
  EXPECT_EQ(row(0), "second");
  put("\x1b[9z");  // no such screen
  EXPECT_EQ(console_screen_number(), 2);
}

TEST_F(Console, TextEndingInTheLastColumnMovesOnOnTheTerminalToo) {
  put(std::string(20, 'a'));
  EXPECT_EQ(console_row(), 1);
  EXPECT_EQ(console_column(), 0);
  EXPECT_EQ(rendered, std::string(20, 'a') + "\r\n");
  rendered.clear();
  put("\x1b[=7l" + std::string(25, 'b'));
  EXPECT_EQ(console_column(), 19);
  EXPECT_EQ(row(1), std::string(20, 'b'));
}

#ifndef _WIN32
TEST(KeyDecoder, TerminalSequencesBecomeKeyEvents) {
  struct Case {
    const char* bytes;
    std::size_t used;
    int ch, vk;
    bool shift, ctrl, alt;
  } cases[] = {
      {"a", 1, 'a', 0, false, false, false},
      {"\x7f", 1, 8, 0, false, false, false},
      {"\x1b[A", 3, -1, 0x26, false, false, false},
      {"\x1bOD", 3, -1, 0x25, false, false, false},
      {"\x1b[1;5C", 6, -1, 0x27, false, true, false},
      {"\x1b[3~", 4, -1, 0x2E, false, false, false},
      {"\x1b[2~", 4, -1, 0x2D, false, false, false},
      {"\x1b[5~x", 4, -1, 0x21, false, false, false},
      {"\x1b[H", 3, -1, 0x24, false, false, false},
      {"\x1b[4~", 4, -1, 0x23, false, false, false},
      {"\x1bOP", 3, -1, 0x70, false, false, false},
      {"\x1b[1;2S", 6, -1, 0x73, true, false, false},
      {"\x1b[15~", 5, -1, 0x74, false, false, false},
      {"\x1b[24;3~", 7, -1, 0x7B, false, false, true},
      {"\x1b[Z", 3, 9, 0, true, false, false},
      {"\x1b[E", 3, -1, 0x0C, false, false, false},
      {"\x1b" "a", 2, 'a', 0, false, false, true},
  };
  for (const Case& c : cases) {
    plat::KeyEvent ev;
    const std::string b = c.bytes;
    EXPECT_EQ(plat::posix::decode_key(reinterpret_cast<const unsigned char*>(b.data()), b.size(), false, ev), c.used) << b.substr(1);
    EXPECT_EQ(ev.ch, c.ch) << b.substr(1);
    EXPECT_EQ(ev.vk, c.vk) << b.substr(1);
    EXPECT_EQ(ev.shift, c.shift) << b.substr(1);
    EXPECT_EQ(ev.ctrl, c.ctrl) << b.substr(1);
    EXPECT_EQ(ev.alt, c.alt) << b.substr(1);
  }
  // A lone ESC waits for more, unless the input is complete.
  plat::KeyEvent ev;
  const unsigned char esc[] = {0x1B, '[', '1'};
  EXPECT_EQ(plat::posix::decode_key(esc, 1, false, ev), 0u);
  EXPECT_EQ(plat::posix::decode_key(esc, 3, false, ev), 0u);
  EXPECT_EQ(plat::posix::decode_key(esc, 1, true, ev), 1u);
  EXPECT_EQ(ev.ch, 0x1B);
}
#endif

TEST(History, RingOf128MovesDuplicatesToTheNewestPlace) {
  line_editor_reset();
  char buf[240];
  history_record("ls", 2);
  history_record("make", 4);
  history_record("ls", 2);
  ASSERT_EQ(history_count(), 2);
  EXPECT_EQ(std::string(buf, static_cast<std::size_t>(history_entry(0, buf))), "make");
  EXPECT_EQ(std::string(buf, static_cast<std::size_t>(history_entry(1, buf))), "ls");
  for (int i = 0; i < 130; ++i) {
    const std::string line = "cmd" + std::to_string(i);
    history_record(line.data(), static_cast<int>(line.size()));
  }
  ASSERT_EQ(history_count(), 128);
  EXPECT_EQ(std::string(buf, static_cast<std::size_t>(history_entry(127, buf))), "cmd129");
  EXPECT_EQ(std::string(buf, static_cast<std::size_t>(history_entry(0, buf))), "cmd2");
  // A duplicate after the ring wrapped.
  history_record("cmd50", 5);
  EXPECT_EQ(std::string(buf, static_cast<std::size_t>(history_entry(127, buf))), "cmd50");
  EXPECT_EQ(std::string(buf, static_cast<std::size_t>(history_entry(126, buf))), "cmd129");
  EXPECT_EQ(std::string(buf, static_cast<std::size_t>(history_entry(48, buf))), "cmd51");
  line_editor_reset();
}

}  // namespace
}  // namespace vek
