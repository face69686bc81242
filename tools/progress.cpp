#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace rq43::cli {

ProgressLine::ProgressLine(int64_t total, double rate)
    : enabled(isatty(STDERR_FILENO) == 1),
      total(total),
      rate(rate),
      start(std::chrono::steady_clock::now()),
      lastShown(start) {}

double ProgressLine::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ProgressLine::Update(int64_t frames, uint64_t bytes) {
    if (!enabled) return;
    auto now = std::chrono::steady_clock::now();
    if (shown && now - lastShown < std::chrono::milliseconds(200)) return;
    lastShown = now;
    shown = true;
    double elapsed = Seconds();
    double fps = elapsed > 0 ? static_cast<double>(frames) / elapsed : 0;
    double kbps = frames > 0 ? static_cast<double>(bytes) * 8 * rate / static_cast<double>(frames) / 1000 : 0;
    if (total > 0) {
        double left = fps > 0 && total > frames ? static_cast<double>(total - frames) / fps : 0;
        int seconds = static_cast<int>(left + 0.5);
        std::fprintf(stderr, "\rframe %lld of %lld  %.1f fps  %.1f kbit/s  %d:%02d left   ",
                     static_cast<long long>(frames), static_cast<long long>(total), fps, kbps, seconds / 60,
                     seconds % 60);
    } else {
        std::fprintf(stderr, "\rframe %lld  %.1f fps  %.1f kbit/s   ", static_cast<long long>(frames), fps,
                     kbps);
    }
    std::fflush(stderr);
}

void ProgressLine::Finish() {
    if (enabled && shown) std::fprintf(stderr, "\r%70s\r", "");
}

}  // namespace rq43::cli
