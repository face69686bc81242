// rq43: encode, decode and inspect RQ43 video; a host of the codec that reaches it only through DriverProc.
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "cli_errors.h"
#include "commands.h"
#include "dsp/cpu_level.h"
#include "interruption.h"

namespace {

using Command = int (*)(std::span<const std::string>);

struct CommandEntry {
    const char* name;
    Command run;
    const char* summary;
};

constexpr CommandEntry kCommands[] = {
    {"encode", rq43::cli::EncodeCommand, "compress a video (and keep its sound) into an RQ43 AVI file"},
    {"decode", rq43::cli::DecodeCommand, "decompress an RQ43 AVI file to y4m, raw video or PNG pictures"},
    {"info", rq43::cli::InfoCommand, "describe an RQ43 AVI file, optionally frame by frame"},
    {"config", rq43::cli::ConfigCommand, "show or change the codec's stored options"},
    {"demo", rq43::cli::DemoCommand, "encode and decode a built-in test clip and report the results"},
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: rq43 COMMAND [OPTIONS] [ARGUMENTS]\n"
                 "\n"
                 "The RQ43 video codec's command-line program.\n"
                 "\n"
                 "commands:\n");
    for (const CommandEntry& c : kCommands) std::fprintf(out, "  %-8s %s\n", c.name, c.summary);
    std::fprintf(
        out,
        "\n"
        "'rq43 COMMAND --help' describes a command. Exit status: 0 success, 1 failure, 2 usage\n"
        "error, 130 interrupted (Ctrl-C).\n"
        "With --cpu c|sse2|avx2|avxvnni|avx512 anywhere among the options, the codec runs that level's\n"
        "kernels (as RQ43_CPU does; never above what the processor has), to compare or to report a fault.\n");
}

// Takes --cpu LEVEL / --cpu=LEVEL out of the options and hands it to the codec through RQ43_CPU, which it
// reads at its first use. False for a level it does not know.
bool TakeCpuOption(std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
        size_t taken = args[i] == "--cpu" ? 2 : args[i].starts_with("--cpu=") ? 1 : 0;
        if (taken == 0) continue;
        std::string level = taken == 2 ? (i + 1 < args.size() ? args[i + 1] : "") : args[i].substr(6);
        rq43::dsp::CpuLevel parsed{};
        if (!rq43::dsp::ParseCpuLevel(level, parsed)) {
            std::fprintf(stderr, "rq43: --cpu takes c, sse2, avx2, avxvnni or avx512\n");
            return false;
        }
        setenv("RQ43_CPU", level.c_str(), 1);
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                   args.begin() + static_cast<std::ptrdiff_t>(std::min(i + taken, args.size())));
        --i;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Pictures are allocated and freed every frame: by default each one is a fresh mapping, or memory
    // handed back to the system, and touching its pages again cost as much as decoding the picture.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!TakeCpuOption(args)) return rq43::cli::kExitUsage;
    if (args.empty()) {
        PrintUsage(stderr);
        return rq43::cli::kExitUsage;
    }
    const std::string& name = args[0];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    if (name == "--version") {
        std::printf("rq43 4.2 (kernels: %s)\n", rq43::dsp::CpuLevelName(rq43::dsp::ActiveCpuLevel()));
        return 0;
    }
    for (const CommandEntry& command : kCommands) {
        if (name != command.name) continue;
        rq43::cli::InterruptionWatch watch;
        try {
            return command.run(std::span<const std::string>(args).subspan(1));
        } catch (const rq43::cli::UsageError& e) {
            std::fprintf(stderr, "rq43 %s: %s\nTry 'rq43 %s --help'.\n", command.name, e.what(),
                         command.name);
            return rq43::cli::kExitUsage;
        } catch (const rq43::cli::Interruption& e) {
            std::fprintf(stderr, "rq43 %s: %s\n", command.name, e.what());
            return rq43::cli::kExitInterrupted;
        } catch (const rq43::cli::Failure& e) {
            std::fprintf(stderr, "rq43 %s: %s\n", command.name, e.what());
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "rq43 %s: out of memory\n", command.name);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "rq43 %s: %s\n", command.name, e.what());
        }
        return rq43::cli::kExitFailure;
    }
    std::fprintf(stderr, "rq43: unknown command '%s'\n\n", name.c_str());
    PrintUsage(stderr);
    return rq43::cli::kExitUsage;
}
