#include "app/event_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "platform/write_all.h"

namespace mic {
namespace {

// Parses a written line back with a real JSON parser; fails the test if it is not one object
// with exactly the two string members on one line.
EventLine parse(const std::string& line) {
  EXPECT_FALSE(line.empty());
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "more than one line";
  EXPECT_EQ(line.find('\r'), std::string::npos);
  const auto json = nlohmann::json::parse(line);
  EXPECT_TRUE(json.is_object());
  EXPECT_EQ(json.size(), 2u);
  return {json.at("kind").get<std::string>(), json.at("text").get<std::string>()};
}

// How many bytes the pipe of `fd` holds before a non-blocking write meets EAGAIN. Linux says;
// xnu has no such query and grows a pipe's buffer on large writes, so there a pipe filled the way
// writeAll fills one (large non-blocking writes) is counted instead.
int pipeCapacity(int fd) {
#ifdef F_GETPIPE_SZ
  return fcntl(fd, F_GETPIPE_SZ);
#else
  (void)fd;
  int probe[2];
  if (pipe(probe) != 0) return -1;
  fcntl(probe[1], F_SETFL, O_NONBLOCK);
  const std::string chunk(1 << 20, 'x');
  while (write(probe[1], chunk.data(), chunk.size()) > 0) {
  }
  int queued = -1;
  ioctl(probe[0], FIONREAD, &queued);
  close(probe[0]);
  close(probe[1]);
  return queued;
#endif
}

TEST(EventLineFormat, CompactObjectWithOneLineFeed) {
  const std::string line = formatEventLine({"status", "listening locally"});
  EXPECT_EQ(line, "{\"kind\":\"status\",\"text\":\"listening locally\"}\n");
  const auto event = parse(line);
  EXPECT_EQ(event.kind, "status");
  EXPECT_EQ(event.text, "listening locally");
}

TEST(EventLineFormat, EscapesQuotesBackslashSolidusAndControls) {
  const std::string text = "say \"hi\" \\ a/b\tc\nd\re\bf\fg\x01h\x1fi\x7f";
  const std::string line = formatEventLine({"partial", text});
  EXPECT_EQ(line,
            "{\"kind\":\"partial\",\"text\":\"say \\\"hi\\\" \\\\ a\\/b\\tc\\nd\\re\\bf\\fg"
            "\\u0001h\\u001fi\x7f\"}\n");
  EXPECT_EQ(parse(line).text, text);
}

TEST(EventLineFormat, EmbeddedNulIsEscapedNotTruncated) {
  const std::string text("a\0b", 3);
  const std::string line = formatEventLine({"partial", text});
  EXPECT_NE(line.find("a\\u0000b"), std::string::npos);
  EXPECT_EQ(parse(line).text, text);
}

TEST(EventLineFormat, NonAsciiStaysRawUtf8) {
  const std::string text = "café naïve 日本語 😀";
  const std::string line = formatEventLine({"final", text});
  EXPECT_NE(line.find(text), std::string::npos);
  EXPECT_EQ(line.find("\\u"), std::string::npos);
  EXPECT_EQ(parse(line).text, text);
}

TEST(EventLineFormat, EmptyTextIsAnEmptyString) {
  EXPECT_EQ(formatEventLine({"partial", ""}), "{\"kind\":\"partial\",\"text\":\"\"}\n");
}

TEST(EventLineFormat, InvalidUtf8BecomesReplacementCharacters) {
  struct Case {
    std::string input;
    std::string expected;
  } cases[] = {
      {"a\xff"
       "b",
       "a\xEF\xBF\xBD"
       "b"},                                                     // byte never valid
      {"\xC3", "\xEF\xBF\xBD"},                                  // truncated at the end
      {"\xC3(", "\xEF\xBF\xBD("},                                // bad continuation
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong solidus
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate half
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // > U+10FFFF
      {"\xE2\x82"
       "x",
       "\xEF\xBF\xBD"
       "x"},                                     // cut-off three-byte sequence is one replacement
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // a valid emoji is kept
  };
  for (const auto& c : cases) {
    const std::string line = formatEventLine({"final", c.input});
    EXPECT_EQ(line, "{\"kind\":\"final\",\"text\":\"" + c.expected + "\"}\n");
    EXPECT_EQ(parse(line).text, c.expected);
  }
}

// Points standard output at a pipe for the life of the object.
class CapturedStdout {
 public:
  CapturedStdout() {
    EXPECT_EQ(pipe(fds_), 0);
    saved_ = dup(STDOUT_FILENO);
    dup2(fds_[1], STDOUT_FILENO);
  }
  ~CapturedStdout() {
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    close(fds_[0]);
    close(fds_[1]);
  }
  // What is readable right now, without waiting for more.
  std::string available() {
    fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds_[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
  }

 private:
  int fds_[2];
  int saved_;
};

TEST(Emit, LineIsOnThePipeAsSoonAsEmitReturns) {
  CapturedStdout out;
  emit("status", "listening locally");
  EXPECT_EQ(out.available(), "{\"kind\":\"status\",\"text\":\"listening locally\"}\n");
  emit("final", "a/b");
  EXPECT_EQ(out.available(), "{\"kind\":\"final\",\"text\":\"a\\/b\"}\n");
}

TEST(Emit, LongLineIsWrittenWhole) {
  // Larger than a pipe's buffer: the reader drains it while emit retries the short writes. On a
  // non-blocking descriptor the reader starts only once the pipe is full, so the writer surely
  // meets EAGAIN and has to wait for room instead of dropping the rest.
  const std::string text(300000, 'x');
  for (const bool nonBlocking : {false, true}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    if (nonBlocking) fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const int capacity = pipeCapacity(fds[0]);
    ASSERT_GT(capacity, 0);
    std::string received;
    std::thread reader([&] {
      int queued = 0;
      while (nonBlocking && ioctl(fds[0], FIONREAD, &queued) == 0 && queued < capacity) {
        std::this_thread::yield();
      }
      char buf[65536];
      ssize_t n;
      while ((n = read(fds[0], buf, sizeof buf)) > 0) received.append(buf, static_cast<size_t>(n));
    });
    EXPECT_TRUE(writeAll(fds[1], formatEventLine({"final", text}))) << nonBlocking;
    close(fds[1]);
    reader.join();
    close(fds[0]);
    EXPECT_EQ(received.size(), formatEventLine({"final", text}).size()) << nonBlocking;
    EXPECT_EQ(parse(received).text, text);
  }
}

TEST(Emit, ClosedDescriptorIsAFailureNotAHang) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[1]);
  const bool written = writeAll(fds[1], "lost\n");
  const int error = errno;
  EXPECT_FALSE(written);
  EXPECT_EQ(error, EBADF);
  close(fds[0]);
}

}  // namespace
}  // namespace mic
