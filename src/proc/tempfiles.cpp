#include "proc/tempfiles.h"

#include "io/fdio.h"
#include "platform/platform.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek {

std::array<char, 260> temp_directory{};
std::array<std::array<char, 260>, 4> temp_file_names{};
int subst_fd = -1;
int func_write_fd = -1;
int func_read_fd = -1;
int pipe_a_fd = -1;
int pipe_b_fd = -1;

void create_temp_file(std::array<char, 260>& result, const char* dir, const char* prefix, int first) {
  int n = first < 0 ? 100 : first;
  int failures = 0;
  std::array<char, 260> name{};
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
    if (plat::stat_path(name.data()).exists) continue;
    int fd = plat::open(name.data(), plat::kBinary | plat::kCreate | plat::kTruncate | plat::kExclusive |
                                           plat::kReadWrite);
    if (fd >= 0) {
      plat::close(fd);
      break;
    }
    if (++failures >= 9) {
      int last = sys_open(name.data(), plat::kBinary | plat::kCreate | plat::kTruncate | plat::kExclusive |
                                           plat::kReadWrite);
      if (last >= 0) sys_close(last);
      break;
    }
  }
  result = name;
}

void open_temp_files() {
  for (int i = 0; i < 4; ++i)
    create_temp_file(temp_file_names[static_cast<std::size_t>(i)], temp_directory.data(), "vek_tmpf.", 100 + i);
  const int rw = plat::kReadWrite | plat::kCreate | plat::kTruncate | plat::kBinary;
  subst_fd = sys_open(temp_file_names[0].data(), rw);
  func_write_fd = sys_open(temp_file_names[1].data(), plat::kWrite | plat::kCreate | plat::kTruncate | plat::kBinary);
  func_read_fd = sys_open(temp_file_names[1].data(), plat::kRead | plat::kBinary);
  pipe_a_fd = sys_open(temp_file_names[2].data(), rw);
  pipe_b_fd = sys_open(temp_file_names[3].data(), rw);
  for (int* fd : {&subst_fd, &func_write_fd, &func_read_fd, &pipe_a_fd, &pipe_b_fd}) {
    // A closed standard descriptor would have been taken: the internal
    // files live on 10 and above.
    if (*fd < 10) {
      const int high = plat::dup_at_least(*fd, 10);
      if (high < 0) fatal_error(VEK_ERR(kErrSystem), "dup()");
      plat::close(*fd);
      *fd = high;
    }
    plat::set_no_inherit(*fd);
  }
  for (const auto& name : temp_file_names) plat::delete_on_fault(name.data());
}

void close_temp_files() {
  for (int* fd : {&subst_fd, &func_write_fd, &func_read_fd, &pipe_a_fd, &pipe_b_fd}) {
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
