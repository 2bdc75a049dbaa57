#include "platform/relaunch.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

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

}  // namespace
}  // namespace mic
