#include "proc/tempfiles.h"

#include <algorithm>
#include <cstring>

#include "io/fdio.h"
#include "platform/platform.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek {

std::array<char, 260> temp_directory{};
std::array<std::array<char, 260>, 4> temp_file_names{};
int subst_fd = -1;
int subst_read_fd = -1;
int func_write_fd = -1;
int func_read_fd = -1;
int pipe_a_fd = -1;
int pipe_b_fd = -1;
int pipe_b_read_fd = -1;

namespace {

// The function file's first bytes and its size as far as it was written
// through function_file_write (only ever grows while the file is open).
std::array<unsigned char, kFunctionMirror> function_mirror{};
std::int64_t function_file_size = 0;

// Internal files never take one of the user's descriptors 0..9.
int keep_high(int fd) {
  if (fd < 0 || fd >= 10) return fd;
  int high = plat::dup_high(fd);
  plat::close(fd);
  descriptor_changed(fd);
  if (high < 0) fatal_error(VEK_ERR(kErrSystem), "dup()");
  return high;
}

// A second descriptor on an internal file, with a position of its own.
// The name must still lead to the very file created (no link, no other
// file put in its place).
int reopen(std::array<char, 260>& name, int created, int flags) {
  int fd = keep_high(sys_open(name.data(), flags | plat::kNoFollow | plat::kBinary));
  if (!plat::same_file(fd, created)) {
    plat::close(fd);
    fatal_error(VEK_ERR(kErrOpen), name.data());
  }
  plat::set_no_inherit(fd);
  return fd;
}

}  // namespace

int create_temp_file(std::array<char, 260>& result, const char* dir, const char* prefix, int first, bool internal) {
  int n = first < 0 ? 100 : first;
  int failures = 0;
  std::array<char, 260> name{};
  int flags = plat::kBinary | plat::kCreate | plat::kTruncate | plat::kExclusive | plat::kReadWrite;
  if (internal) flags |= plat::kOwnerOnly | plat::kNoFollow;
  int fd = -1;
  for (;;) {
    if (n >= 1000) fatal_error(VEK_ERR(kErrTooManyTemp));
    {
      // Directory and prefix must leave room for the number.
      std::array<char, 256> head{};
      concat_strings_n(static_cast<int>(head.size()), head.data(), {dir, "\\", prefix});
      char num[16];
      format_signed(num, n);
      concat_strings_n(static_cast<int>(name.size()), name.data(), {head.data(), num});
    }
    ++n;
    if (plat::path_exists(name.data())) continue;
    fd = plat::open(name.data(), flags);
    if (fd >= 0) break;
    if (++failures >= 9) {
      fd = sys_open(name.data(), flags);
      break;
    }
  }
  if (!internal) {
    result = name;
    if (fd >= 0) sys_close(fd);
    return -1;
  }
  // An internal file must exist and be ours: without it the session
  // cannot run.  A name that is not ours is never recorded (the exit
  // clean-up deletes the recorded names).
  if (fd < 0) fatal_error(VEK_ERR(kErrOpen), name.data());
  result = name;
  fd = keep_high(fd);
  plat::set_no_inherit(fd);
  return fd;
}

void function_file_write(const void* data, long n, std::int64_t offset) {
  if (n <= 0) return;
  sys_lseek(func_write_fd, offset, plat::kSeekSet);
  sys_write(func_write_fd | kRawWrite, data, n);
  if (offset < kFunctionMirror) {
    const long in_mirror = std::min<std::int64_t>(n, kFunctionMirror - offset);
    std::memcpy(function_mirror.data() + offset, data, static_cast<std::size_t>(in_mirror));
  }
  function_file_size = std::max(function_file_size, offset + n);
}

long function_file_read(void* data, long n, std::int64_t offset) {
  if (n <= 0 || offset < 0) return plat::read_at(func_read_fd, data, static_cast<std::size_t>(n), offset);
  const std::int64_t mirrored = std::min<std::int64_t>(function_file_size, kFunctionMirror);
  long got = -1;
  if (offset + n <= mirrored) got = n;
  else if (function_file_size <= kFunctionMirror) got = static_cast<long>(std::max<std::int64_t>(0, mirrored - offset));
  if (got < 0) return plat::read_at(func_read_fd, data, static_cast<std::size_t>(n), offset);
  if (got > 0) std::memcpy(data, function_mirror.data() + offset, static_cast<std::size_t>(got));
  return got;
}

void open_temp_files() {
  function_mirror.fill(0);
  function_file_size = 0;
  // Each name is recorded before the next file is made, so that a failure
  // half-way still deletes what exists.
  int* const fds[4] = {&subst_fd, &func_write_fd, &pipe_a_fd, &pipe_b_fd};
  for (int i = 0; i < 4; ++i) {
    auto& name = temp_file_names[static_cast<std::size_t>(i)];
    *fds[i] = create_temp_file(name, temp_directory.data(), "vek_tmpf.", 100 + i, true);
    plat::delete_on_fault(name.data());
  }
  subst_read_fd = reopen(temp_file_names[0], subst_fd, plat::kRead);
  func_read_fd = reopen(temp_file_names[1], func_write_fd, plat::kRead);
  pipe_b_read_fd = reopen(temp_file_names[3], pipe_b_fd, plat::kRead);
}

void unlink_temp_files() {
  plat::delete_on_fault(nullptr);
  for (auto& name : temp_file_names) {
    if (name[0]) plat::unlink(name.data());
    name[0] = 0;
  }
}

void close_temp_files() {
  for (int* fd : {&subst_fd, &subst_read_fd, &func_write_fd, &func_read_fd, &pipe_a_fd, &pipe_b_fd, &pipe_b_read_fd}) {
    if (*fd >= 0) plat::close(*fd);
    *fd = -1;
  }
  plat::delete_on_fault(nullptr);
  for (auto& name : temp_file_names) {
    if (name[0]) plat::unlink(name.data());
    name[0] = 0;
  }
}

}  // namespace vek
