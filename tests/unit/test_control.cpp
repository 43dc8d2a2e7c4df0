// Control structures inside the test process: loops, calls and case
// dispatch allocate nothing per round; long bodies cross the chunks of the
// function file; `.` runs a file with its own parameters.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <unistd.h>

#include "builtins/builtins.h"
#include "capture.h"
#include "core/commands.h"
#include "core/exec.h"
#include "core/lists.h"
#include "core/shell.h"
#include "core/words.h"
#include "proc/tempfiles.h"
#include "session/input.h"
#include "session/startup.h"
#include "vars/varstore.h"

// Counts every allocation through operator new in this test program.
namespace {
std::atomic<long> allocations{0};
}
void* operator new(std::size_t n) {
  ++allocations;
  if (void* p = std::malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace vek {
namespace {

using testing_support::Capture;

class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_interpreter();
    const char dir[] = "\\tmp";
    for (std::size_t i = 0; i < sizeof dir; ++i) temp_directory[i] = dir[i];
    open_temp_files();
  }
  void TearDown() override {
    close_temp_files();
    input = InputState{};
  }

  static void run(const std::string& text) {
    prepared.text = text.c_str();
    prepared.text_length = text.size();
    run_source(nullptr, 0, 0, kModeString);
  }

  // Allocations made while running the text.
  static long allocations_of(const std::string& text) {
    const long before = allocations;
    run(text);
    return allocations - before;
  }
};

// A round of a loop, a function call and a case dispatch cost no heap:
// ten rounds and a thousand allocate the same.
TEST_F(Control, LoopsCallsAndCaseAllocateNothingPerRound) {
  Capture out(1);
  run("f() { case $1 in a*) : a;; b) : b;; *) : other;; esac; }\n");
  const char* bodies[] = {
      "for i from 1 to %d repeat; do f b; f abc; f zz; done\n",
      "n=; for i from 1 to %d repeat; do while true; do break; done; if true; then :; else :; fi; done\n",
      "for i from 1 to %d repeat; do {{ local v=$i; }}; case $i in 1) ;, 2) ;; esac; done\n",
  };
  for (const char* body : bodies) {
    char few[256];
    char many[256];
    std::snprintf(few, sizeof few, body, 10);
    std::snprintf(many, sizeof many, body, 1000);
    allocations_of(few);  // anything done once is done now
    EXPECT_EQ(allocations_of(few), allocations_of(many)) << body;
  }
  {
    const long before = allocations;
    std::string probe(100, 'x');
    EXPECT_GT(allocations, before);  // the counter sees allocations at all
  }
}

// Bodies longer than a chunk of the function file, ended in each of the
// three ways, read back whole.
TEST_F(Control, LongBodiesCrossTheChunksOfTheFunctionFile) {
  std::string filler;
  for (int i = 0; i < 400; ++i) filler += ": line " + std::to_string(i) + " of filler text\n";
  ASSERT_GT(filler.size(), 8192u);
  Capture out(1);
  run("multi() {\n" + filler + "echo multi end\n}\n" +
      "counted()) {\n" + filler + "echo counted end\n)}\n" +
      "one() { " + std::string(5000, ' ') + "echo one end; }\n" +
      "multi; counted; one\n");
  EXPECT_EQ(out.text(), "multi end\r\ncounted end\r\none end\r\n");
}

// A body whose closing ')' characters fall partly into the bytes already
// written to the file loses them all.
TEST_F(Control, CountedParenthesesBeforeTheChunkEndAreDropped) {
  Capture out(1);
  const std::string pad(4087, ' ');  // with "echo a" and "))))": one byte past a chunk
  run("f())))) {\necho a" + pad + "))))}\nf\nfprint f\n");
  EXPECT_EQ(out.text(), "a\r\necho a" + pad + "\r\n");
}

// An eval that defines a function keeps the function's body: the eval
// text's room is given back only when nothing was put behind it.
TEST_F(Control, EvalGivesBackItsRoomOnlyWhenNothingFollowsIt) {
  Capture out(1);
  run("eval 'echo x'\n");
  const std::int64_t after_plain = function_file_end;
  EXPECT_EQ(after_plain, 0);
  run("eval 'g() { echo in g; }'; eval 'echo other text that is longer than the body'; g\n");
  EXPECT_EQ(out.text(), "x\r\nother text that is longer than the body\r\nin g\r\n");
  EXPECT_GT(function_file_end, 0);
}

// `.` runs the file it was given with the operands after it as $1...,
// and $0 unchanged.
TEST_F(Control, DotRunsTheFileWithItsOwnParameters) {
  char path[] = "/tmp/vek_dot_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string text = "echo \"dot $# $1 $2 $0\"\nreturn 4\necho never\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  input.param0 = "zero";
  Capture out(1);
  static char dot[] = ".";
  static char a[] = "a";
  static char b[] = "b";
  char* words[] = {dot, path, a, b, nullptr};
  BuiltinCall call{4, words, 5, 100, 1, path};
  last_status = 0;
  bi_dot(call);
  unlink(path);
  EXPECT_EQ(out.text(), "dot 2 a b zero\r\n");
  EXPECT_EQ(last_status, 4);
}

}  // namespace
}  // namespace vek
