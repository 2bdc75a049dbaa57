#include "platform/apple/relaunch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/stop_requests.h"

extern char** environ;

namespace mic {
namespace {

using Kind = ChildWatch::Event::Kind;

class ScriptedChild final : public ChildWatch {
 public:
  explicit ScriptedChild(std::deque<Event> events) : events_(std::move(events)) {}
  Event next() override {
    if (events_.empty()) {
      ADD_FAILURE() << "waited again after the child ended";
      return {Kind::childExited, -1};
    }
    Event event = events_.front();
    events_.pop_front();
    return event;
  }
  void signalChild(int signal) override { forwarded.push_back(signal); }

  std::vector<int> forwarded;

 private:
  std::deque<Event> events_;
};

TEST(RelaunchTest, WaitsForTheChildAndPassesSignalsOn) {
  struct Case {
    const char* name;
    std::deque<ChildWatch::Event> events;
    std::vector<int> forwarded;
    int status;
  };
  const std::vector<Case> cases = {
      {"the child's exit status", {{Kind::childExited, 0}}, {}, 0},
      {"a failure status", {{Kind::childExited, 1}}, {}, 1},
      {"SIGINT goes on to the child, which ends by it",
       {{Kind::signalReceived, SIGINT}, {Kind::childKilled, SIGINT}},
       {SIGINT},
       130},
      {"SIGTERM and SIGHUP go on; the child's own status counts",
       {{Kind::signalReceived, SIGTERM}, {Kind::signalReceived, SIGHUP}, {Kind::childExited, 0}},
       {SIGTERM, SIGHUP},
       0},
      {"a child that crashed", {{Kind::childKilled, SIGABRT}}, {}, 134},
  };
  for (const Case& c : cases) {
    ScriptedChild child(c.events);
    EXPECT_EQ(superviseChild(child), c.status) << c.name;
    EXPECT_EQ(child.forwarded, c.forwarded) << c.name;
  }
}

// The real watch, in a process of its own so that its signal mask and children are its alone:
// it starts `script` as the first process starts the copy, optionally receives SIGTERM first, and
// exits with what superviseChild returned.
int supervisedStatus(const char* script, bool terminate) {
  const pid_t first = fork();
  if (first == 0) {
    char sh[] = "/bin/sh", dashC[] = "-c";
    char* argv[] = {sh, dashC, const_cast<char*>(script), nullptr};
    const std::optional<pid_t> child = startWatchedChild("/bin/sh", argv, environ, nullptr);
    if (!child) _exit(200);
    if (terminate) kill(getpid(), SIGTERM);  // stays pending: blocked until the watch takes it
    SignalChildWatch watch(*child);
    _exit(superviseChild(watch));
  }
  int status = 0;
  if (first < 0 || waitpid(first, &status, 0) != first || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(RelaunchTest, TheRealWatchReportsTheChildAndPassesASignalOn) {
  EXPECT_EQ(supervisedStatus("exit 3", false), 3);
  EXPECT_EQ(supervisedStatus("kill -ABRT $$", false), 128 + SIGABRT);
  // The copy would run for a minute: only the signal passed on ends it.
  EXPECT_EQ(supervisedStatus("exec sleep 60", true), 128 + SIGTERM);
}

// What xnu (like the BSDs) discards at once, blocked or not: a signal whose action is to ignore
// it. sigwait never returns for such a signal; Linux keeps it pending, so without this check a
// watch that hangs on a Mac would pass here.
bool droppedByXnu(int signal) {
  struct sigaction action = {};
  sigaction(signal, nullptr, &action);
  if (action.sa_handler == SIG_IGN) return true;
  if (action.sa_handler != SIG_DFL) return false;
  switch (signal) {  // the signals whose default action is to ignore them
    case SIGCHLD:
    case SIGURG:
    case SIGWINCH:
    case SIGCONT:
#ifdef SIGINFO
    case SIGINFO:
#endif
      return true;
    default:
      return false;
  }
}

// In a process of its own, started with SIGCHLD as a caller may leave it and SIGHUP ignored or
// not (nohup): after startWatchedChild, every signal it blocked for the wait must be one that
// both kernels keep pending, SIGCHLD among them, and an ignored SIGHUP stays ignored and unwaited.
// Exits 0, or with the number of the first signal that breaks that.
int watchConditionBreach(void (*childAction)(int), bool hangupIgnored) {
  const pid_t first = fork();
  if (first == 0) {
    signal(SIGCHLD, childAction);
    signal(SIGHUP, hangupIgnored ? SIG_IGN : SIG_DFL);
    char sh[] = "/bin/sh", dashC[] = "-c", script[] = "exit 0";
    char* argv[] = {sh, dashC, script, nullptr};
    const std::optional<pid_t> child = startWatchedChild("/bin/sh", argv, environ, nullptr);
    if (!child) _exit(200);
    sigset_t blocked;
    pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
    int breach = sigismember(&blocked, SIGCHLD) ? 0 : SIGCHLD;
    for (int signal = 1; signal < 32 && breach == 0; ++signal) {
      if (sigismember(&blocked, signal) && droppedByXnu(signal)) breach = signal;
    }
    if (breach == 0 && hangupIgnored && (!droppedByXnu(SIGHUP) || sigismember(&blocked, SIGHUP))) {
      breach = SIGHUP;
    }
    SignalChildWatch watch(*child);
    superviseChild(watch);
    _exit(breach);
  }
  int status = 0;
  if (first < 0 || waitpid(first, &status, 0) != first || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(RelaunchTest, TheWatchWaitsOnlyForSignalsBothKernelsKeep) {
  EXPECT_EQ(watchConditionBreach(SIG_DFL, false), 0) << "SIGCHLD left at its default";
  EXPECT_EQ(watchConditionBreach(SIG_IGN, false), 0) << "SIGCHLD left ignored";
  EXPECT_EQ(watchConditionBreach(SIG_DFL, true), 0) << "under nohup";
}

// --- the copy's watch on the first process ---

constexpr char kCopyReportFd[] = "MIC_TEST_COPY_REPORT";

void report(const std::string& text) {
  const int fd = atoi(getenv(kCopyReportFd));
  const std::string line = text + "\n";
  ASSERT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
}

// Run only as the copy the next test starts (this test binary itself, filtered to this test).
TEST(RelaunchTest, DISABLED_CopyWatchingItsStarter) {
  if (getenv(kCopyReportFd) == nullptr) GTEST_SKIP() << "only run as the copy";
  const int starter = starterPipe();
  report("watching " + std::to_string(getpid()) + " " + std::to_string(starter >= 0));
  report(waitForStopRequest(starter) ? "gone" : "unwatched");
}

// Reads `fd` until `text` has come, for up to `seconds`; what was read goes into `seen`.
bool readUntil(int fd, const std::string& text, std::string& seen, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (seen.find(text) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[256];
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got <= 0) return false;
    seen.append(chunk, static_cast<size_t>(got));
  }
  return true;
}

// The first process as the program runs it (superviseCopy), killed outright: the copy, which
// holds only the read end of the pipe it was handed, sees that pipe end. Were the write end to
// leak into the copy, or the read end not reach it, the copy would watch on for good.
TEST(RelaunchTest, TheCopyNoticesItsFirstProcessKilled) {
  int reportPipe[2];
  ASSERT_EQ(pipe(reportPipe), 0);
  const std::string self = ::testing::internal::GetArgvs().front();
  const pid_t first = fork();
  if (first == 0) {
    close(reportPipe[0]);
    const int quiet = open("/dev/null", O_WRONLY);  // the copy's own test report is not ours
    if (quiet >= 0) dup2(quiet, STDOUT_FILENO);
    setenv(kCopyReportFd, std::to_string(reportPipe[1]).c_str(), 1);
    std::string program = self,
                filter = "--gtest_filter=RelaunchTest.DISABLED_CopyWatchingItsStarter",
                disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {program.data(), filter.data(), disabled.data(), nullptr};
    _exit(superviseCopy(self.c_str(), argv, nullptr).value_or(200));
  }
  ASSERT_GT(first, 0);
  close(reportPipe[1]);
  std::string seen;
  const bool watching = readUntil(reportPipe[0], "watching", seen, 60);
  EXPECT_TRUE(watching) << seen;
  // Still there: nothing may end the watch while the first process lives.
  EXPECT_FALSE(readUntil(reportPipe[0], "gone", seen, 0.3)) << seen;
  kill(first, SIGKILL);
  int status = 0;
  waitpid(first, &status, 0);
  const bool gone = readUntil(reportPipe[0], "gone", seen, 30);
  EXPECT_TRUE(gone) << seen;
  EXPECT_NE(seen.find("watching"), std::string::npos);
  EXPECT_NE(seen.find(" 1\n"), std::string::npos) << "the copy found no starter pipe: " << seen;
  if (!gone && watching) {  // the copy is no child of ours: end it by the pid it reported
    const size_t at = seen.find("watching ") + std::strlen("watching ");
    kill(static_cast<pid_t>(atoi(seen.c_str() + at)), SIGKILL);
  }
  close(reportPipe[0]);
}

}  // namespace
}  // namespace mic
