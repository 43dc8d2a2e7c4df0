// The character reader, refills, positions and prompts.
#include "session/input.h"

#include <algorithm>
#include <cstring>

#include "core/lists.h"
#include "core/shell.h"
#include "core/words.h"
#include "io/editor.h"
#include "io/fdio.h"
#include "proc/search.h"
#include "proc/tempfiles.h"
#include "session/diag.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

InputState input;
PreparedSource prepared;

namespace {

// Set while the reader moves around to count lines for a message: such
// refills neither count command lines nor echo under option v.
bool quiet_refill = false;

bool seekable() {
  return input.string_text != nullptr || (input.mode & (kModeFile | kModeBody)) != 0;
}

// Copies the next piece of a string source into the buffer.  The string
// is followed by one line feed; the control bytes 0x1C..0x1F stand for
// blank, tab, CR and LF.
long fill_from_string() {
  std::size_t total = input.string_length + 1;
  auto pos = static_cast<std::size_t>(input.fill_position);
  long n = 0;
  while (pos < total && n < kInputBufferSize) {
    char c = pos < input.string_length ? control_to_blank(input.string_text[pos]) : '\n';
    input.buf[n++] = static_cast<unsigned char>(c);
    ++pos;
  }
  input.fill_position = static_cast<std::int64_t>(pos);
  return n;
}

// Unreads the last m bytes of a refill where the source allows it.
void give_back(long m) {
  if (m <= 0) return;
  if (input.string_text != nullptr) input.fill_position -= m;
  else if (input.mode & kModeFile) plat::lseek(input.fd, -m, plat::kSeekCur);
}

// 0xFF marks the end of input inside the reader, so the byte cannot be
// part of the text.  The bytes before it are delivered; reaching it is a
// syntax error that names its line.  (Counting lines for a message only
// stops there.)  Function bodies end in that byte on purpose.
long stop_at_stray_ff(const unsigned char* data, long n) {
  const auto* hit = static_cast<const unsigned char*>(std::memchr(data, 0xFF, static_cast<std::size_t>(n)));
  if (hit == nullptr) return n;
  const long keep = hit - data;
  give_back(n - keep);
  if (quiet_refill) return keep;
  if (keep > 0) {
    input.stray_ff = true;
    return keep;
  }
  report_stray_ff();
}

}  // namespace

namespace {

// A source that cannot seek keeps the bytes from its hold position on:
// they move to the front of the hold area and the new data goes after
// them.  Returns where the refill's bytes go.
unsigned char* keep_held_text() {
  std::int64_t hold = input.loop_hold;
  if (input.label_hold >= 0 && (hold < 0 || input.label_hold < hold)) hold = input.label_hold;
  if (hold < 0 || input.hold_area == nullptr) return input.buf;
  const std::int64_t buffer_start = input.fill_position - (input.end - input.buf);
  if (hold < buffer_start) hold = buffer_start;
  const auto offset = static_cast<std::size_t>(hold - buffer_start);
  const auto keep = static_cast<std::size_t>(input.end - input.buf) - offset;
  HoldArea& area = *input.hold_area;
  const std::size_t need = keep + kInputBufferSize;
  if (need > kHoldLimit) fatal_error(VEK_ERR(kErrLimit), "Schleifentext ohne Positionierung");
  const bool in_area = !area.empty() && input.buf == area.data();
  if (area.size() < need) {
    std::size_t grown = area.size() < kInputBufferSize ? 2 * kInputBufferSize : 2 * area.size();
    if (grown < need) grown = need;
    if (grown > kHoldLimit) grown = kHoldLimit;
    if (in_area) {
      area.resize(grown);
    } else {
      HoldArea fresh(grown);
      std::copy(input.buf + offset, input.buf + offset + keep, fresh.begin());
      area.swap(fresh);
      input.buf = area.data();
      return input.buf + keep;
    }
  }
  unsigned char* base = area.data();
  const unsigned char* from = (in_area ? base : input.buf) + offset;
  if (keep > 0 && from != base) std::memmove(base, from, keep);
  input.buf = base;
  return base + keep;
}

}  // namespace


[[noreturn]] void report_stray_ff() {
  input.stray_ff = false;
  input.rp = input.end = input.buf;
  fatal_error(VEK_ERR(kErrSyntax), "Zeichen 0xFF");
}

int console_mask() {
  return (plat::isatty(0) ? 4 : 0) + (plat::isatty(1) ? 2 : 0) + (plat::isatty(2) ? 1 : 0);
}

int fill_input() {
  input.position_unknown = true;
  if (input.mode & kModeConsole) {
    int fd = opt('E') ? 0 : input.fd;
    if (!plat::isatty(fd)) {
      {
        WriteFailuresDropped quiet;
        sys_write(2, "-i: input not_a_tty\r\n");
      }
      session_cleanup(CleanupMode::kExit);
      throw ProcessExit{1};
    }
    if (!opt('t') && !in_prompt) show_prompt(command_line_count != 0);
  }
  if (input.stray_ff && !quiet_refill) report_stray_ff();
  long n;
  unsigned char* data = input.buf;
  const bool can_seek = input_seekable();
  if (input.string_text != nullptr) {
    n = fill_from_string();
    input.position_unknown = false;
  } else {
    if (!can_seek) data = keep_held_text();
    long want = kInputBufferSize;
    if (input.read_limit > 0 && input.read_limit + 1 < kInputBufferSize) want = input.read_limit + 1;
    if ((input.mode & kModeConsole) && opt('E') && plat::console_terminal()) {
      line_editor_history_dir(home_directory.data());
      n = edit_line(reinterpret_cast<char*>(data), kInputBufferSize);
    } else if (input.mode & kModeBody) {
      // Every body shares the function file's descriptor: a body reads at
      // the position it counted, so nobody has to keep the descriptor's
      // position for anybody else.
      n = function_file_read(data, want, input.fill_position);
    } else {
      n = plat::read(input.fd, data, static_cast<std::size_t>(want));
    }
  }
  check_signal();
  if (n < 0) fatal_error(VEK_ERR(kErrSystem), "fill():read()");
  if (n > 0 && !(input.mode & kModeBody)) n = stop_at_stray_ff(data, n);
  // Positions are counted, not asked: a body in the function file shares
  // its descriptor with every other body.
  if (input.string_text == nullptr && can_seek) {
    input.fill_position += n;
    input.position_unknown = false;
  }
  if (n == 0) {
    data[0] = kEof;
    n = 1;
  } else if (n > 2 && !quiet_refill) {
    ++command_line_count;
    if (opt('v')) {
      if (plat::isatty(1)) sys_write(1, data, n);
      else if (plat::isatty(2)) sys_write(2, data, n);
    }
  }
  // A source that cannot seek counts the end byte too; its positions stay
  // valid across refills as long as the text is kept.
  if (input.string_text == nullptr && !can_seek) {
    input.fill_position += n;
    input.position_unknown = false;
  }
  input.end = data + n;
  input.rp = data + 1;
  return data[0];
}

bool input_seekable() { return seekable(); }

std::int64_t input_position(std::int64_t pos, bool relative) {
  std::int64_t total;
  bool can_seek = seekable();
  if (can_seek && input.string_text == nullptr) {
    // A body's position is always counted (see fill_input).
    if (input.position_unknown && !(input.mode & kModeBody)) {
      std::int64_t p = plat::lseek(input.fd, 0, plat::kSeekCur);
      if (p >= 0) {
        input.fill_position = p;
        input.position_unknown = false;
      } else {
        can_seek = false;
      }
    }
    total = can_seek ? input.fill_position : input.end - input.buf;
  } else {
    total = input.fill_position;
  }
  std::int64_t current = total - (input.end - input.rp);
  if (relative) pos += current;
  if (pos == current) return pos;
  if (current - pos > input.rp - input.buf || pos >= total || pos < 0) {
    if (!can_seek || pos < 0) return -1;
    if (input.string_text == nullptr && !(input.mode & kModeBody) &&
        plat::lseek(input.fd, pos, plat::kSeekSet) < 0)
      fatal_error(VEK_ERR(kErrSystem), "lseek()");
    input.fill_position = pos;
    bool was_quiet = quiet_refill;
    quiet_refill = true;
    // A console source never seeks, so the refill shows no prompt.
    fill_input();
    quiet_refill = was_quiet;
    --input.rp;
    return pos;
  }
  input.rp -= (current - pos);
  return pos;
}

std::int64_t input_count_lines(std::int64_t from, std::int64_t to) {
  bool was_quiet = quiet_refill;
  quiet_refill = true;
  std::int64_t lines = -1;
  if (input_position(from, false) >= 0) {
    lines = 0;
    for (std::int64_t p = from; p < to; ++p) {
      int c = next_char();
      if (c == '\n') ++lines;
      else if (c == kEof && input.end - input.buf == 1) break;
    }
  }
  quiet_refill = was_quiet;
  return lines;
}

void show_prompt(bool continuation) {
  static const char kDefaultPs1[] = " print -nu2 \"$:#  \"";
  static const char kDefaultPs2[] = " print -nu2 \"$:>  \"";
  std::array<char, 2048> text{};
  const char* dflt = continuation ? kDefaultPs2 : kDefaultPs1;
  VarRecord* r = var_find(variable_scope(), continuation ? "PS2" : "PS1");
  const char* use = dflt;
  if (r != nullptr) {
    if (r->value_size() < 2040) {
      use = r->value();
    } else {
      sys_write(2, "vek: Prompt zu lang\r\n");
    }
  }
  // The prompt text is copied: running it may move the store's bytes.
  const std::size_t n = copy_truncated(text, use);

  unsigned saved_skip = skip_flags;
  int saved_status = last_status;
  struct Restore {
    unsigned skip;
    int status;
    ~Restore() {
      in_prompt = 0;
      skip_flags = skip;
      last_status = status;
    }
  } restore{saved_skip, saved_status};
  in_prompt = 1;
  skip_flags = 0;
  prepared.text = text.data();
  prepared.text_length = n;
  try {
    run_source(nullptr, kPromptSlotStart, kPromptBufStart, kModeString);
  } catch (const TopLevelAbort&) {
    // A prompt command that fails would fail again at every prompt and
    // lock the session in a loop: show the default prompt instead.
    in_prompt = 1;
    skip_flags = 0;
    prepared.text = dflt;
    prepared.text_length = str_len(dflt);
    run_source(nullptr, kPromptSlotStart, kPromptBufStart, kModeString);
  }
}

}  // namespace vek
