// Sources, command lists, pipelines and the collection of simple commands.
#pragma once

namespace vek {

struct CommandRecord {
  int start = 0;       // first slot
  int pos = 0;         // first free byte of the word buffer
  int terminator = 0;  // caller's terminator character (0 for none)
};

struct CollectResult {
  int end = 0;
  int start = 0;
  int pos = 0;  // end of the used word buffer
};

int run_source(const char* name, int start, int pos, unsigned mode);
int run_list(const CommandRecord& cmd);
int run_pipeline(const CommandRecord& cmd);
int collect_command(const CommandRecord& cmd, CollectResult* result);

}  // namespace vek
