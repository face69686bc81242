// The progress line on standard error: shown only when standard error is a terminal, rewritten in place.
#pragma once

#include <chrono>
#include <cstdint>

namespace rq43::cli {

class ProgressLine {
  public:
    // `total` frames when known (0 otherwise); `rate` frames per second of the stream, for the bit rate.
    ProgressLine(int64_t total, double rate);
    void Update(int64_t frames, uint64_t bytes);
    // Clears the line so the summary starts on a clean one.
    void Finish();
    double Seconds() const;

  private:
    bool enabled;
    int64_t total;
    double rate;
    std::chrono::steady_clock::time_point start, lastShown;
    bool shown = false;
};

}  // namespace rq43::cli
