#include "platform/linux/posix_process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace mic {
namespace {

// Runs readLine with stdin fed from `input` (or closed) in a child, and reports what the child
// could still read afterwards: the reader must take one line and nothing more.
std::string afterOneLine(const std::string& input, bool closeWriteEnd) {
  int in[2], out[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  const pid_t child = fork();
  if (child == 0) {
    dup2(in[0], STDIN_FILENO);
    close(in[1]);
    PosixProcess().readLine();
    char buf[64];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n > 0) (void)!write(out[1], buf, static_cast<size_t>(n));
    _exit(0);
  }
  close(in[0]);
  close(out[1]);
  (void)!write(in[1], input.data(), input.size());
  if (closeWriteEnd) close(in[1]);
  std::string rest;
  char buf[64];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) rest.append(buf, static_cast<size_t>(n));
  int status = 0;
  waitpid(child, &status, 0);
  if (!closeWriteEnd) close(in[1]);
  close(out[0]);
  EXPECT_TRUE(WIFEXITED(status));
  return rest;
}

TEST(PosixProcess, ReadLineTakesOneLineOnly) {
  EXPECT_EQ(afterOneLine("stop\nmore", false), "more");
  EXPECT_EQ(afterOneLine("\nx", false), "x");
}

TEST(PosixProcess, EndOfInputEndsTheRead) {
  EXPECT_EQ(afterOneLine("", true), "");
  EXPECT_EQ(afterOneLine("no newline", true), "");
}

TEST(PosixProcess, ExitLeavesAtOnceWithTheStatus) {
  const pid_t child = fork();
  if (child == 0) {
    std::atexit([] { _exit(99); });  // a normal exit would run this
    PosixProcess().exit(2);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
}  // namespace mic
