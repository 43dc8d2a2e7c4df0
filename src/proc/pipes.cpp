#include "proc/pipes.h"

#include <array>

#include "io/fdio.h"
#include "proc/redirect.h"
#include "proc/tempfiles.h"
#include "support/errors.h"

namespace vek {

namespace {

// A stage's output beyond this many bytes is cut off pipe file A once it
// has been copied, and pipe file B is cut back when a pipeline leaves more
// than this behind its end, so that a long session does not grow them.
constexpr std::int64_t kPipeKeep = 65536;
constexpr long kBlock = 4096;

// Pipe file B is written by the pipelines only (the stages get a
// read-only descriptor), so its length is known without asking:
// b_length is the end of the data of the running pipelines, b_size the
// file's length, which may hold stale bytes behind b_length until a stage
// is about to read it.
std::int64_t b_length = 0;
std::int64_t b_size = 0;
// Running pipelines whose current stage reads pipe file B: while there
// are any, a pipeline nested in that stage leaves nothing behind its end.
int b_readers = 0;

}  // namespace

void pipe_stage_output(PipelineRun& run, int c) {
  if (!run.used) {
    run.used = true;
    run.b_position = sys_lseek(pipe_b_read_fd, 0, plat::kSeekCur);
    run.b_end = b_length;
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
  std::int64_t n = sys_lseek(pipe_a_fd, 0, plat::kSeekCur) - run.a_position;
  if (n < 0) n = 0;
  std::array<char, kBlock> block;
  for (std::int64_t done = 0; done < n;) {
    const long want = n - done > kBlock ? kBlock : static_cast<long>(n - done);
    if (plat::read_at(pipe_a_fd, block.data(), static_cast<std::size_t>(want), run.a_position + done) != want)
      fatal_error(VEK_ERR(kErrSystem), "read()");
    if (plat::write_at(pipe_b_fd, block.data(), static_cast<std::size_t>(want), run.b_end + done) != want)
      fatal_error(VEK_ERR(kErrSystem), "write()");
    done += want;
  }
  if (n > kPipeKeep) sys_ftruncate(pipe_a_fd, run.a_position + kPipeKeep);
  sys_lseek(pipe_a_fd, run.a_position, plat::kSeekSet);
  if (run.input_from_b) pop_pipe_redirection();
  // The next stage reads B up to its end: nothing may stand behind this
  // output.
  const std::int64_t end = run.b_end + n;
  if (b_size > end) sys_ftruncate(pipe_b_fd, end);
  b_size = end;
  b_length = end;
  sys_lseek(pipe_b_read_fd, run.b_end, plat::kSeekSet);
  push_pipe_redirection(0, pipe_b_read_fd);
  if (!run.input_from_b) ++b_readers;
  run.input_from_b = true;
}

void pipe_finish(PipelineRun& run) {
  pipe_stage_done(run);
  if (run.input_from_b) {
    pop_pipe_redirection();
    --b_readers;
    run.input_from_b = false;
  }
  if (!run.used) return;
  run.used = false;
  b_length = run.b_end;
  // What this pipeline left behind its end goes when a stage around it
  // reads B, or when it is much; else the next pipeline overwrites it.
  if (b_size > run.b_end && (b_readers > 0 || b_size > run.b_end + kPipeKeep)) {
    sys_ftruncate(pipe_b_fd, run.b_end);
    b_size = run.b_end;
  }
  sys_lseek(pipe_b_read_fd, run.b_position, plat::kSeekSet);
}

void pipe_files_reset() {
  b_length = 0;
  b_size = 0;
  b_readers = 0;
  if (pipe_a_fd >= 0) plat::lseek(pipe_a_fd, 0, plat::kSeekSet);
  if (pipe_b_read_fd >= 0) plat::lseek(pipe_b_read_fd, 0, plat::kSeekSet);
  if (pipe_b_fd >= 0) plat::ftruncate(pipe_b_fd, 0);
}

}  // namespace vek
