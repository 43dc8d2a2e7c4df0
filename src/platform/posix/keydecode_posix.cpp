#include "platform/posix/keydecode.h"

namespace vek::plat::posix {

namespace {

// Virtual-key codes of the keys without a character.
constexpr int kVkClear = 0x0C;
constexpr int kVkPrior = 0x21;
constexpr int kVkNext = 0x22;
constexpr int kVkEnd = 0x23;
constexpr int kVkHome = 0x24;
constexpr int kVkLeft = 0x25;
constexpr int kVkUp = 0x26;
constexpr int kVkRight = 0x27;
constexpr int kVkDown = 0x28;
constexpr int kVkInsert = 0x2D;
constexpr int kVkDelete = 0x2E;
constexpr int kVkF1 = 0x70;

// The key of "ESC [ n ~".
int tilde_key(int n) {
  switch (n) {
    case 1: case 7: return kVkHome;
    case 2: return kVkInsert;
    case 3: return kVkDelete;
    case 4: case 8: return kVkEnd;
    case 5: return kVkPrior;
    case 6: return kVkNext;
    case 11: case 12: case 13: case 14: case 15: return kVkF1 + n - 11;
    case 17: case 18: case 19: case 20: case 21: return kVkF1 + 5 + n - 17;
    case 23: case 24: return kVkF1 + 10 + n - 23;
    default: return 0;
  }
}

// The terminal's erase key (DEL) is Backspace.
int plain(unsigned char c) { return c == 0x7F ? 8 : c; }

}  // namespace

std::size_t decode_key(const unsigned char* p, std::size_t n, bool complete, KeyEvent& ev) {
  ev = KeyEvent{};
  if (n == 0) return 0;
  if (p[0] != 0x1B) {
    ev.ch = plain(p[0]);
    return 1;
  }
  if (n == 1) {
    if (!complete) return 0;
    ev.ch = 0x1B;
    return 1;
  }
  const unsigned char intro = p[1];
  if (intro != '[' && intro != 'O') {
    // ESC and a character: the character typed with Alt.
    ev.ch = plain(intro);
    ev.alt = true;
    return 2;
  }
  // Parameters: numbers separated by ";", then the final byte.
  int params[4] = {0, 0, 0, 0};
  int count = 0;
  bool digits = false;
  std::size_t i = 2;
  for (; i < n; ++i) {
    const unsigned char c = p[i];
    if (c >= '0' && c <= '9') {
      if (count < 4 && params[count] < 10000) params[count] = params[count] * 10 + (c - '0');
      digits = true;
    } else if (c == ';') {
      if (count < 4) ++count;
      digits = false;
    } else if (c == '<' || c == '=' || c == '>' || c == '?') {
      // private parameters of reports that are not keys
    } else {
      break;
    }
  }
  if (digits || count > 0) ++count;
  if (i >= n) {
    if (!complete) return 0;
    ev.ch = 0x1B;  // a cut sequence: Escape, the rest as typed
    return 1;
  }
  const unsigned char fin = p[i];
  const std::size_t used = i + 1;
  if (fin < 0x40 || fin > 0x7E) {
    ev.ch = 0x1B;
    return 1;
  }
  // Modifiers: the second parameter (or the only one of "ESC O 5 P")
  // is 1 + the sum of shift 1, alt 2, ctrl 4.
  int mod = count >= 2 ? params[1] : (intro == 'O' && count == 1 ? params[0] : 1);
  if (mod > 1) {
    const int m = mod - 1;
    ev.shift = (m & 1) != 0;
    ev.alt = (m & 2) != 0;
    ev.ctrl = (m & 4) != 0;
  }
  switch (fin) {
    case 'A': ev.vk = kVkUp; break;
    case 'B': ev.vk = kVkDown; break;
    case 'C': ev.vk = kVkRight; break;
    case 'D': ev.vk = kVkLeft; break;
    case 'H': ev.vk = kVkHome; break;
    case 'F': ev.vk = kVkEnd; break;
    case 'E': ev.vk = kVkClear; break;
    case 'P': case 'Q': case 'R': case 'S': ev.vk = kVkF1 + (fin - 'P'); break;
    case 'Z': ev.ch = 9; ev.shift = true; break;
    case 'M': if (intro == 'O') ev.ch = 13; break;  // keypad Enter
    case '~': ev.vk = tilde_key(params[0]); break;
    default: break;
  }
  return used;
}

}  // namespace vek::plat::posix
