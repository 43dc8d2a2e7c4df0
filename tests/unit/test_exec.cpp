// Running sources end to end inside the test process: function bodies read
// back from the function file, their diagnostics, and the error trap.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "capture.h"
#include "define_function.h"
#include "core/classes.h"
#include "core/exec.h"
#include "core/lists.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "proc/tempfiles.h"
#include "session/diag.h"
#include "session/input.h"
#include "session/startup.h"
#include "vars/special.h"
#include "vars/varstore.h"

namespace vek {
namespace {

using testing_support::Capture;

class Sources : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_interpreter();
    concat_temp_dir();
    open_temp_files();
  }
  void TearDown() override {
    close_temp_files();
    input = InputState{};
  }
  static void concat_temp_dir() {
    const char dir[] = "\\tmp";
    for (std::size_t i = 0; i < sizeof dir; ++i) temp_directory[i] = dir[i];
  }

  static void define(const char* name, const std::string& body) { testing_support::define_function(name, body); }

  static void run(const char* text) {
    prepared.text = text;
    prepared.text_length = std::char_traits<char>::length(text);
    run_source(nullptr, 0, 0, kModeString);
  }
};

TEST_F(Sources, FunctionGetsItsOperandsAndKeepsDollarZero) {
  define("f", "echo in f $# $1 $2 $0; g=set");
  Capture out(1);
  input.param0 = "zero";
  run("f a b; echo after $g $#");
  EXPECT_EQ(out.text(), "in f 2 a b zero\r\nafter set 0\r\n");
}

TEST_F(Sources, FunctionsNestAndReadTheirBodiesBack) {
  define("inner", "echo inner $1");
  define("outer", "echo outer $1; inner x$1; echo outer again $1");
  Capture out(1);
  run("outer 1; outer 2");
  EXPECT_EQ(out.text(), "outer 1\r\ninner x1\r\nouter again 1\r\nouter 2\r\ninner x2\r\nouter again 2\r\n");
}

TEST_F(Sources, ErrorInAFunctionNamesFunctionAndLine) {
  define("f", "echo one\r\n\r\nnosuch arg\r\necho never");
  Capture out(1);
  Capture err(2);
  EXPECT_THROW(run("f"), ProcessExit);
  EXPECT_EQ(out.text(), "one\r\n");
  EXPECT_EQ(err.text(), "vek: f()[3]: Kommando nicht gefunden: 'nosuch'\r\n");
  EXPECT_EQ(last_status, 7 | 16);
}

TEST_F(Sources, BuiltinsWinOverFunctionsOfTheSameName) {
  define("echo", "print from function");
  Capture out(1);
  run("echo builtin");
  EXPECT_EQ(out.text(), "builtin\r\n");
}

TEST_F(Sources, ErrorTrapRunsOnceBeforeTheEnd) {
  define("trap_F_1", "echo trap ran $?; nosuch2");
  Capture out(1);
  Capture err(2);
  EXPECT_THROW(run("echo start; nosuch1; echo never"), ProcessExit);
  EXPECT_EQ(out.text(), "start\r\ntrap ran 23\r\n");
  EXPECT_EQ(err.text(),
            "vek: Kommando nicht gefunden: 'nosuch1'\r\n"
            "vek: trap_F_1()[1]: Kommando nicht gefunden: 'nosuch2'\r\n");
}

TEST_F(Sources, SkippedTextRunsNothing) {
  define("f", "echo never");
  Capture out(1);
  run("false && f && echo no; true || echo no; echo yes");
  EXPECT_EQ(out.text(), "yes\r\n");
}

}  // namespace
}  // namespace vek
