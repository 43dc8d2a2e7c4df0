// The console on Win32.  The escape emulation and the line editor on the
// real console API come later: until then console output passes through
// unchanged and console input is read as lines, so the emulation layer
// is told that it does not drive this console.  The operations that are
// simple on the console API are real already.
#include <windows.h>

#include "platform/platform.h"

namespace vek::plat {

bool console_terminal() { return false; }

// Key input is not used yet: the line editor stays off.
bool console_raw(bool on) { return !on; }

int console_read_key(KeyEvent& ev) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  for (;;) {
    INPUT_RECORD rec;
    DWORD got = 0;
    if (!ReadConsoleInputA(in, &rec, 1, &got) || got == 0) return 0;
    if (rec.EventType != KEY_EVENT || !rec.Event.KeyEvent.bKeyDown) continue;
    const KEY_EVENT_RECORD& k = rec.Event.KeyEvent;
    ev = KeyEvent{};
    const auto c = static_cast<unsigned char>(k.uChar.AsciiChar);
    if (c != 0) ev.ch = c;
    else ev.vk = k.wVirtualKeyCode;
    ev.shift = (k.dwControlKeyState & SHIFT_PRESSED) != 0;
    ev.ctrl = (k.dwControlKeyState & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
    ev.alt = (k.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
    ev.repeat = k.wRepeatCount > 0 ? k.wRepeatCount : 1;
    if (ev.ch < 0 && (ev.vk == VK_SHIFT || ev.vk == VK_CONTROL || ev.vk == VK_MENU)) continue;
    return 1;
  }
}

void console_input_mode(int mode) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD m = 0;
  if (!GetConsoleMode(in, &m)) return;
  if (mode == 3) m &= ~static_cast<DWORD>(ENABLE_ECHO_INPUT);
  else m |= ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
  SetConsoleMode(in, m);
}

void console_flush_input() { FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE)); }

bool console_size(int& columns, int& rows) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return false;
  columns = info.srWindow.Right - info.srWindow.Left + 1;
  rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  return columns > 0 && rows > 0;
}

bool console_cursor(int& column, int& row) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return false;
  column = info.dwCursorPosition.X - info.srWindow.Left;
  row = info.dwCursorPosition.Y - info.srWindow.Top;
  return true;
}

void console_beep(unsigned frequency, unsigned duration_ms) { Beep(frequency, duration_ms); }

// A console set to the UTF-8 code page shows the interpreter's code page
// 850 texts only when they are converted.
bool terminal_shows_utf8() { return GetConsoleOutputCP() == CP_UTF8; }

// Nothing is changed yet beyond the input mode, which start-up sets to 7.
void console_restore() { console_input_mode(7); }

}  // namespace vek::plat
