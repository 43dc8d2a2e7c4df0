// Sources, command lists, pipelines and the collection of simple commands.
#pragma once

#include <cstdint>

namespace vek {

struct PipelineRun;

struct CommandRecord {
  int start = 0;       // first slot
  int pos = 0;         // first free byte of the word buffer
  int terminator = 0;  // caller's terminator character (0 for none)
};

struct CollectResult {
  int end = 0;
  int start = 0;
  int pos = 0;  // end of the used word buffer
  // Set by the pipeline loop: the pipeline the command is a stage of.
  PipelineRun* pipe = nullptr;
  // A compound command followed by "|" has already sent its output into
  // the pipe (and taken it back).
  bool output_ready = false;
  // A compound command ended by a list operator handed out this control
  // code (break, continue, goend, return): the pipeline ends with it once
  // the operator is read.
  int control = 0;
};

int run_source(const char* name, int start, int pos, unsigned mode);
int run_list(const CommandRecord& cmd);
int run_pipeline(const CommandRecord& cmd);
int collect_command(const CommandRecord& cmd, CollectResult* result);

// The function file changed: what was remembered about positions in it
// no longer holds.
void forget_body_positions();

}  // namespace vek
