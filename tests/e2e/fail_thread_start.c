/* Preloaded into the program by the end-to-end tests: the Nth pthread_create of the process fails
 * with EAGAIN, as it does for a user or a machine out of threads or memory.
 * MIC_FAIL_THREAD=N picks the call; MIC_FAIL_THREAD_MARK names a file created when it fails, so
 * that the test knows the run got that far. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>

typedef int (*create_fn)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

static int calls;

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* arg) {
  /* Whatever comes next: libc, or a sanitizer's interceptor loaded after us. */
  static create_fn next;
  if (!next) next = (create_fn)dlsym(RTLD_NEXT, "pthread_create");
  const char* wanted = getenv("MIC_FAIL_THREAD");
  const int call = __atomic_add_fetch(&calls, 1, __ATOMIC_SEQ_CST);
  if (wanted && atoi(wanted) == call) {
    const char* mark = getenv("MIC_FAIL_THREAD_MARK");
    if (mark) {
      const int fd = open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      if (fd >= 0) close(fd);
    }
    return EAGAIN;
  }
  return next(thread, attr, start, arg);
}
