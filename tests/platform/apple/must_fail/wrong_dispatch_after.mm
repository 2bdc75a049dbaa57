// Must not compile: dispatch_after takes the deadline first, then the queue.
// expect: no matching function for call to 'dispatch_after'
#include <dispatch/dispatch.h>

void later(dispatch_block_t work) {
  dispatch_after(dispatch_get_main_queue(), dispatch_time(DISPATCH_TIME_NOW, NSEC_PER_SEC), work);
}
