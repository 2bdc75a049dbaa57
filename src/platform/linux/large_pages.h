#pragma once

namespace mic {

// The speech model is about 100 MiB of memory, made of many allocations, and every 4 KiB page of
// it faults once as it is first written, which on a virtual machine is a large share of the
// load's CPU. These put the whole load on one heap backed by 2 MiB pages (transparent huge pages,
// where the system allows them), which takes most of those faults away. The price is memory: the
// C library clears what it hands out from a heap grown ahead (the kernel's fresh pages are clear
// and untouched), so the decoder's large tables, which it fills only as it goes, are resident
// from the start (bench/README.md, "Model load", has the figures).
//
// Before any thread starts: all threads share the main heap, which grows by the model's size
// in one step and asks for large pages. Nothing changes where the kernel gives none, nor where the
// address space the process may have (ulimit -v) leaves no room for the reservation beside the
// rest of the run; a heap that cannot grow goes back to the C library's defaults at once.
void useLargePagesForModel();
// Once the model is loaded: later growth of the heap is ordinary again.
void endLargePagesForModel();

}  // namespace mic
