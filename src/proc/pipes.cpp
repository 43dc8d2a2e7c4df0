#include "proc/pipes.h"

#include <array>

#include "io/fdio.h"
#include "proc/redirect.h"
#include "proc/tempfiles.h"
#include "support/errors.h"

namespace vek {

namespace {

// A stage's output beyond this many bytes is cut off pipe file A once it
// has been copied, so that a long session does not grow the file.
constexpr std::int64_t kPipeKeep = 65536;
constexpr long kBlock = 4096;

}  // namespace

void pipe_stage_output(PipelineRun& run, int c) {
  if (!run.used) {
    run.used = true;
    run.b_position = sys_lseek(pipe_b_fd, 0, plat::kSeekCur);
    run.b_end = sys_lseek(pipe_b_fd, 0, plat::kSeekEnd);
    run.a_position = sys_lseek(pipe_a_fd, 0, plat::kSeekCur);
  }
  const int fd = (c >= '1' && c <= '9') ? c - '0' : 1;
  push_pipe_redirection(fd, pipe_a_fd);
  run.outputs = 1;
  if (c == '!') {
    push_pipe_redirection(2, pipe_a_fd);
    run.outputs = 2;
  }
}

void pipe_stage_done(PipelineRun& run) {
  for (; run.outputs > 0; --run.outputs) pop_pipe_redirection();
}

void pipe_next_stage(PipelineRun& run) {
  if (!run.used) return;
  pipe_stage_done(run);
  // The stage wrote through a duplicate of A's descriptor: A's position
  // tells how much.
  const std::int64_t n = sys_lseek(pipe_a_fd, 0, plat::kSeekCur) - run.a_position;
  if (n > 0) {
    std::array<char, kBlock> block;
    sys_lseek(pipe_a_fd, run.a_position, plat::kSeekSet);
    sys_lseek(pipe_b_fd, run.b_end, plat::kSeekSet);
    for (std::int64_t left = n; left > 0;) {
      const long want = left > kBlock ? kBlock : static_cast<long>(left);
      const long got = sys_read(pipe_a_fd, block.data(), want);
      if (got != want) fatal_error(VEK_ERR(kErrSystem), "read()");
      sys_write(pipe_b_fd | kRawWrite, block.data(), got);
      left -= got;
    }
    if (n > kPipeKeep) sys_ftruncate(pipe_a_fd, run.a_position + kPipeKeep);
  }
  sys_lseek(pipe_a_fd, run.a_position, plat::kSeekSet);
  if (run.input_from_b) {
    pop_pipe_redirection();
    sys_ftruncate(pipe_b_fd, run.b_end + (n > 0 ? n : 0));
  }
  sys_lseek(pipe_b_fd, run.b_end, plat::kSeekSet);
  push_pipe_redirection(0, pipe_b_fd);
  run.input_from_b = true;
}

void pipe_finish(PipelineRun& run) {
  pipe_stage_done(run);
  if (run.input_from_b) {
    pop_pipe_redirection();
    run.input_from_b = false;
  }
  if (run.used) {
    sys_ftruncate(pipe_b_fd, run.b_end);
    sys_lseek(pipe_b_fd, run.b_position, plat::kSeekSet);
    run.used = false;
  }
}

}  // namespace vek
