#include "platform/last_line.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <exception>
#include <memory>

#include "platform/write_all.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MIC_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MIC_SANITIZED 1
#endif
#endif
#ifdef MIC_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace mic {
namespace {

// Everything the handlers read is made ahead and never changed or freed afterwards: a handler may
// run while memory is exhausted, or on a thread that holds the allocator's lock.

// The output gate: whether the terminal line is taken, and how many lines are being written.
std::atomic<bool> terminalTaken{false};
std::atomic<int> linesInFlight{0};

enum Cause { exited, aborted, quit, causeCount };

struct PreparedLines {
  std::string plain[causeCount];        // our own phrase for each cause
  std::string outOfMemory[causeCount];  // the same with the system's words for ENOMEM
};

std::atomic<const PreparedLines*> prepared{nullptr};
std::atomic<const std::string*> lastWords{nullptr};
std::atomic<ErrorLineFormat> lineFormat{nullptr};
// SIGABRT's and SIGQUIT's dispositions as the process found them: an ignored one stays ignored for
// signals from others.
std::atomic<bool> ignoredAtStart[2] = {false, false};

int slotOf(int signal) { return signal == SIGABRT ? 0 : 1; }

#ifdef MIC_SANITIZED
// A sanitizer that found a fault ends the process after its report, with abort() when asked to:
// that abort must stay the abort it always was, not become a quiet "error" line.
std::atomic<bool> sanitizerDying{false};
extern "C" void onSanitizerDeath() { sanitizerDying.store(true); }
bool sanitizerIsDying() { return sanitizerDying.load(); }
void watchSanitizerDeath() { __sanitizer_set_death_callback(onSanitizerDeath); }
#else
bool sanitizerIsDying() { return false; }
void watchSanitizerDeath() {}
#endif

// Up to about a second, in 1 ms sleeps, until `done` says so. Async-signal-safe.
template <typename Done>
void waitBriefly(Done done) {
  for (int i = 0; i < 1000 && !done(); ++i) {
    const timespec millisecond{0, 1000000};
    ::nanosleep(&millisecond, nullptr);
  }
}

// Writes the prepared "error" line unless a terminal line went out, then ends the process with 1.
// Async-signal-safe.
[[noreturn]] void endWithLastLine(Cause cause, int error) {
  if (!terminalTaken.exchange(true)) {
    // A line another thread is writing goes out whole first; the bound keeps a writer this very
    // thread interrupted (or a reader that stopped reading) from holding the end up for good.
    waitBriefly([] { return linesInFlight.load() == 0; });
    const std::string* line = lastWords.load(std::memory_order_acquire);
    if (line == nullptr) {
      const PreparedLines& lines = *prepared.load(std::memory_order_acquire);
      line = error == ENOMEM ? &lines.outOfMemory[cause] : &lines.plain[cause];
    }
    (void)writeAll(STDOUT_FILENO, *line);
  } else {
    // An ending wrote its line and is leaving with its own status: let it, if it still can.
    waitBriefly([] { return false; });
  }
  ::_exit(1);
}

extern "C" void onLibraryExit() { endWithLastLine(exited, errno); }

// Sent by this process itself: raise(), abort(), pthread_kill() or kill() of its own pid. Linux
// gives SI_TKILL or SI_USER with the sender's pid; xnu records the sending process's pid (with
// si_code 0) for a signal that is caught. A terminal's Ctrl-\ comes from the kernel (Linux: code
// SI_KERNEL, pid 0) or, on xnu, from the process that feeds the terminal's input.
bool sentByThisProcess(const siginfo_t* info) {
  return info != nullptr && info->si_code <= 0 && info->si_pid == ::getpid();
}

extern "C" void onAbortOrQuit(int signal, siginfo_t* info, void*) {
  const int error = errno;  // before any call: the failure that brought the library here
  if (sentByThisProcess(info) && !sanitizerIsDying()) {
    endWithLastLine(signal == SIGABRT ? aborted : quit, error);
  }
  // What would have happened without us: the default action, once this handler returns and the
  // signal is no longer blocked, or nothing for a signal the process was started ignoring.
  if (!ignoredAtStart[slotOf(signal)].load()) {
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(signal, &byDefault, nullptr);
    ::raise(signal);
  }
  errno = error;
}

void handle(int signal) {
  struct sigaction found = {};
  if (::sigaction(signal, nullptr, &found) == 0) {
    ignoredAtStart[slotOf(signal)].store(!(found.sa_flags & SA_SIGINFO) &&
                                         found.sa_handler == SIG_IGN);
  }
  struct sigaction action = {};
  action.sa_sigaction = onAbortOrQuit;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGABRT);
  sigaddset(&action.sa_mask, SIGQUIT);
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

bool admitLine(bool terminal) {
  // Counted before looking, so that a handler that takes the terminal line either sees this line
  // in flight and waits for it, or is seen here and the line is dropped.
  linesInFlight.fetch_add(1);
  const bool closed = terminal ? terminalTaken.exchange(true) : terminalTaken.load();
  if (closed) linesInFlight.fetch_sub(1);
  return !closed;
}

void lineWritten() { linesInFlight.fetch_sub(1); }

void installLastLine(ErrorLineFormat format) {
  static constexpr const char* kPhrases[causeCount] = {
      "a library ended the program",  // exit(): only a library calls it
      "the program was aborted",      // a failed assertion, ours or a library's
      "a library ended the program",  // SIGQUIT: libpulse's way when memory runs out
  };
  // Never freed: the handlers may run while static destructors do.
  auto* lines = new PreparedLines;
  const std::string memory = std::strerror(ENOMEM);
  for (int cause = 0; cause < causeCount; ++cause) {
    lines->plain[cause] = format(kPhrases[cause]);
    lines->outOfMemory[cause] = format(std::string(kPhrases[cause]) + ": " + memory);
  }
  prepared.store(lines, std::memory_order_release);
  lineFormat.store(format);
  watchSanitizerDeath();
  handle(SIGABRT);
  handle(SIGQUIT);
  std::atexit(onLibraryExit);
}

void setLastWords(std::string_view text) {
  const ErrorLineFormat format = lineFormat.load();
  if (format == nullptr || lastWords.load() != nullptr) return;
  try {
    auto line = std::make_unique<const std::string>(format(text));
    const std::string* none = nullptr;
    if (lastWords.compare_exchange_strong(none, line.get(), std::memory_order_release)) {
      (void)line.release();  // published for good
    }
  } catch (const std::exception&) {
    // No memory for the words: the prepared lines still say what happened.
  }
}

}  // namespace mic
