// Pipelines on the two pipe files: each stage runs to its end with its
// output collected in pipe file A; between stages the output is copied to
// pipe file B, which the next stage reads as its standard input.  Both
// files are used as stacks: a pipeline writes only beyond the positions it
// found and puts them back when it ends, so pipelines nest.
#pragma once

#include <cstdint>

namespace vek {

// The state of one running pipeline (one per activation of the pipeline
// loop; it lives on the call stack).
struct PipelineRun {
  bool used = false;           // the pipe files are in use
  std::int64_t a_position = 0; // pipe file A's position when the pipeline began
  std::int64_t b_position = 0; // read position of pipe file B when it began
  std::int64_t b_end = 0;      // the end of the data of the pipelines around it
  int outputs = 0;             // output redirections of the running stage
  bool input_from_b = false;   // the running stage reads pipe file B
};

// At "|" after a stage's words (c is the character after the "|": "!"
// adds descriptor 2, a digit 1..9 names the descriptor instead of 1):
// the stage's output goes to pipe file A.
void pipe_stage_output(PipelineRun& run, int c);
// After the stage ran, before its own redirections are undone: its output
// descriptors are restored.
void pipe_stage_done(PipelineRun& run);
// Between two stages: the output is handed to the next stage's input.
void pipe_next_stage(PipelineRun& run);
// At the end of the pipeline.
void pipe_finish(PipelineRun& run);

// Rewinds both pipe files and empties pipe file B (after an abandoned
// command).
void pipe_files_reset();

}  // namespace vek
