// The rq43 program's reading of files: whatever libavformat's AVI demuxer makes of the bytes, then our
// own checks on it (the stream format, each frame's key flag from its own header, skipped frames,
// truncation), and the YUV4MPEG2 header check that runs before libavformat sees an input.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/avi.h"
#include "tools/cli_errors.h"
#include "tools/video_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        rq43::cli::CheckY4mHeader(data, size, "input");
    } catch (const rq43::cli::Failure&) {
    }
    // The reader opens a path: an anonymous file in memory gives it one.
    static const int fd = memfd_create("rq43-fuzz", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    try {
        rq43::cli::AviReader reader(path);
        rq43::cli::AviFrame frame;
        int64_t frames = 0;
        while (reader.Next(frame) && ++frames < 100000) {
        }
        (void)reader.Truncated();
    } catch (const rq43::cli::Failure&) {
    }
    return 0;
}
