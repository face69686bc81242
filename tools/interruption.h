// Ctrl-C as a request to stop: the first SIGINT sets a flag that long loops (and libavformat's blocking
// reads) poll, so a command can leave its files in order; a second one ends the process at once.
#pragma once

namespace rq43::cli {

// Installs the handler for the life of the object.
class InterruptionWatch {
  public:
    InterruptionWatch();
    ~InterruptionWatch();
    InterruptionWatch(const InterruptionWatch&) = delete;
    InterruptionWatch& operator=(const InterruptionWatch&) = delete;
};

bool InterruptRequested();
// For AVIOInterruptCB: nonzero once the user asked to stop.
int InterruptCallback(void* unused);

}  // namespace rq43::cli
