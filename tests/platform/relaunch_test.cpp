#include "platform/relaunch.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <deque>
#include <optional>
#include <vector>

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

}  // namespace
}  // namespace mic
