// The ways a command ends badly: the command line was wrong (exit status 2), the work failed (1), or the
// user interrupted it (130).
#pragma once

#include <stdexcept>
#include <string>

namespace rq43::cli {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The user stopped the run (Ctrl-C); the text says what became of the output.
struct Interruption : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "path: what" — every failure names the file it is about.
inline Failure FileFailure(const std::string& path, const std::string& what) {
    return Failure(path + ": " + what);
}

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;  // 128 + SIGINT, what shells report for Ctrl-C

}  // namespace rq43::cli
