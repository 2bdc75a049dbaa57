/* Preloaded into the program by the end-to-end tests: the speech library ends the process on its
 * own, the ways these libraries really do. MIC_GIVE_UP picks one:
 *   exit   ps_init logs a fatal error through sphinxbase's log and calls exit(1), as its E_FATAL
 *          does (a missing model file, a failed allocation);
 *   quit   once the decoder has heard words, the next ps_process_raw fails to allocate, as
 *          libpulse's allocator does: "Not enough memory" on stderr, then raise(SIGQUIT);
 *   abort  once the decoder has heard words, the next ps_process_raw fails an assertion: abort().
 *   double-free  the same place frees a block twice: the C library (or a sanitizer) aborts. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef void* (*init_fn)(void*);
typedef int (*process_fn)(void*, const short*, size_t, int, int);
typedef const char* (*hyp_fn)(void*, int*);
typedef void (*err_msg_fn)(int, const char*, long, const char*, ...);

static int heard_words;

static const char* mode(void) {
  const char* wanted = getenv("MIC_GIVE_UP");
  return wanted ? wanted : "";
}

void* ps_init(void* config) {
  static init_fn next;
  if (!next) next = (init_fn)dlsym(RTLD_NEXT, "ps_init");
  if (strcmp(mode(), "exit") == 0) {
    err_msg_fn log = (err_msg_fn)dlsym(RTLD_DEFAULT, "err_msg");
    if (log) log(5 /* ERR_FATAL */, "model.c", 42, "Cannot read the model: %s\n", "bad header");
    exit(1);
  }
  return next(config);
}

const char* ps_get_hyp(void* decoder, int* score) {
  static hyp_fn next;
  if (!next) next = (hyp_fn)dlsym(RTLD_NEXT, "ps_get_hyp");
  const char* text = next(decoder, score);
  if (text && *text) __atomic_store_n(&heard_words, 1, __ATOMIC_SEQ_CST);
  return text;
}

int ps_process_raw(void* decoder, const short* data, size_t samples, int no_search, int full) {
  static process_fn next;
  if (!next) next = (process_fn)dlsym(RTLD_NEXT, "ps_process_raw");
  if (__atomic_load_n(&heard_words, __ATOMIC_SEQ_CST)) {
    if (strcmp(mode(), "quit") == 0) {
      static const char said[] = "Not enough memory\n";
      errno = ENOMEM; /* what the failed malloc left */
      if (write(STDERR_FILENO, said, sizeof said - 1) < 0) errno = ENOMEM;
      raise(SIGQUIT);
      _exit(1);
    }
    if (strcmp(mode(), "abort") == 0) abort();
    if (strcmp(mode(), "double-free") == 0) {
      char* volatile block = malloc(64);
      free(block);
      free(block);
    }
  }
  return next(decoder, data, samples, no_search, full);
}
