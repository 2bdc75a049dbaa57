#include "platform/linux/posix_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace mic {
namespace {

// The state letter of `pid` in /proc ('S' sleeping, 'Z' ended, ...).
char processState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t paren = line.rfind(')');
  return paren == std::string::npos || paren + 2 >= line.size() ? 'Z' : line[paren + 2];
}

// Runs readLine with stdin fed from `input` (or closed) in a child, and reports what the child
// could still read afterwards: the reader must take one line and nothing more. With `nonBlocking`
// stdin has O_NONBLOCK set and the input is written only once the reader sleeps: a reader that
// took EAGAIN for the end would have ended instead.
std::string afterOneLine(const std::string& input, bool closeWriteEnd, bool nonBlocking = false) {
  int in[2], out[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  if (nonBlocking) fcntl(in[0], F_SETFL, O_NONBLOCK);
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
  if (nonBlocking) {
    char state;
    while ((state = processState(child)) != 'S' && state != 'Z') std::this_thread::yield();
    EXPECT_EQ(state, 'S') << "the reader ended before any input came";
  }
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

TEST(PosixProcess, NonBlockingStdinWaitsForTheLine) {
  // A non-blocking stdin says EAGAIN while nobody has written: that is no line yet.
  EXPECT_EQ(afterOneLine("stop\nmore", false, true), "more");
}

}  // namespace
}  // namespace mic
