#include "platform/linux/detached_thread.h"

#include <cxxabi.h>
#include <pthread.h>

#include <memory>
#include <new>
#include <system_error>

namespace mic {
namespace {

constexpr size_t kThreadStack = size_t{512} << 10;

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MIC_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define MIC_THREAD_SANITIZER 1
#endif

void* runWork(void* data) {
  std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(data));
  try {
    (*work)();
    work.reset();  // what the work held is released on its own thread
  } catch (abi::__forced_unwind&) {
    throw;  // a cancelled thread must unwind all the way
  } catch (...) {
    // The work has nobody left to tell: its own failure paths did not get through either.
  }
  return nullptr;
}

}  // namespace

Status startDetachedThread(std::function<void()> work) {
  std::unique_ptr<std::function<void()>> owned;
  try {
    owned = std::make_unique<std::function<void()>>(std::move(work));
  } catch (const std::bad_alloc&) {
    return Status::failure("a thread could not be started: out of memory");
  }
  pthread_attr_t attributes;
  if (const int error = pthread_attr_init(&attributes); error != 0) {
    return Status::failure("a thread could not be started: " +
                           std::generic_category().message(error));
  }
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int error = pthread_create(&thread, &attributes, &runWork, owned.get());
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    return Status::failure("a thread could not be started: " +
                           std::generic_category().message(error));
  }
  owned.release();  // the thread owns it now
  return {};
}

void useSmallThreadStacks() {
#ifdef MIC_THREAD_SANITIZER
  // The thread sanitizer keeps its state of each thread in thread-local storage, hundreds of KiB
  // that the C library carves out of the thread's stack: its builds keep the default size.
  return;
#endif
  pthread_attr_t attributes;
  if (pthread_getattr_default_np(&attributes) != 0) return;
  size_t size = 0;
  if (pthread_attr_getstacksize(&attributes, &size) == 0 && size > kThreadStack) {
    pthread_attr_setstacksize(&attributes, kThreadStack);
    pthread_setattr_default_np(&attributes);
  }
  pthread_attr_destroy(&attributes);
}

}  // namespace mic
