#pragma once

#include <string>

namespace mic {

// libpulse maps shared memory for every connection: a 64 MiB pool of its own and, with
// PulseAudio, the server's pools of 64 MiB each: about 200 MiB of address space for audio of a few
// KiB a second. Where the address space is limited that is most of what the program may have, so
// for the scope of this object (the creation of a context, which is when libpulse reads its
// configuration) libpulse is told to send the audio through the socket and keep a pool of a few
// slots. libpulse takes these settings from client.conf only (no call, no variable of their own);
// what it is given is a configuration in memory that sets them and then includes the user's own,
// which thus still wins on every point it makes. Without a limit nothing changes. Main thread,
// before other threads read the environment.
class SmallPulseMemory {
 public:
  SmallPulseMemory();
  ~SmallPulseMemory();
  SmallPulseMemory(const SmallPulseMemory&) = delete;
  SmallPulseMemory& operator=(const SmallPulseMemory&) = delete;

 private:
  int fd_ = -1;
  // The variable as the user set it, put back afterwards.
  bool hadPrevious_ = false;
  std::string previous_;
};

}  // namespace mic
