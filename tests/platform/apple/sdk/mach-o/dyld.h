// The dyld subset the program uses: the path of the running executable. Declared from Apple's
// dyld(3) manual page. The POSIX headers the sources use (spawn.h, signal.h, dlfcn.h) come from
// the system the check runs on.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Copies the executable's path into `buf` and returns 0; when `*bufsize` is too small, returns
// -1 and sets it to the size needed.
int _NSGetExecutablePath(char *buf, uint32_t *bufsize);

#ifdef __cplusplus
}
#endif
