// Locales and the process's standard input, on a Mac.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>

#include "platform/apple/apple_locales.h"
#include "platform/apple/apple_process.h"

namespace mic::testing {
namespace {

TEST(AppleLocalesTest, NamedLocaleKeepsTheIdentifierExactlyAndCurrentHasOne) {
  auto locales = makeAppleLocales();
  EXPECT_EQ(locales->fromIdentifier("EN-us").identifier, "EN-us");
  EXPECT_EQ(locales->fromIdentifier("pt_BR").identifier, "pt_BR");
  EXPECT_FALSE(locales->current().identifier.empty());
}

// Puts the read end of a pipe on descriptor 0 for the test and gives back the real one after.
class StandardInputPipe : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::pipe(fds_), 0);
    saved_ = ::dup(STDIN_FILENO);
    ASSERT_GE(saved_, 0);
    ASSERT_EQ(::dup2(fds_[0], STDIN_FILENO), STDIN_FILENO);
    ::close(fds_[0]);
  }
  void TearDown() override {
    if (fds_[1] >= 0) ::close(fds_[1]);
    ::dup2(saved_, STDIN_FILENO);
    ::close(saved_);
  }
  void write(const std::string& bytes) {
    ASSERT_EQ(::write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void closeWriter() {
    ::close(fds_[1]);
    fds_[1] = -1;
  }
  std::future<void> readLineInBackground() {
    return std::async(std::launch::async, [this] { process_->readLine(); });
  }

  std::unique_ptr<Process> process_ = makeAppleProcess();

 private:
  int fds_[2] = {-1, -1};
  int saved_ = -1;
};

TEST_F(StandardInputPipe, ReadLineWaitsForTheEndOfALine) {
  auto done = readLineInBackground();
  write("no newline yet");
  EXPECT_EQ(done.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  write(" ... now\nand more");
  EXPECT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

TEST_F(StandardInputPipe, ReadLineReturnsAtTheEndOfInput) {
  auto done = readLineInBackground();
  write("half a line");
  closeWriter();
  EXPECT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

}  // namespace
}  // namespace mic::testing
