// The program's commands. Each takes the arguments after its name and returns the exit status; usage
// errors are thrown as UsageError, failures as Failure.
#pragma once

#include <span>
#include <string>

namespace rq43::cli {

int EncodeCommand(std::span<const std::string> args);
int DecodeCommand(std::span<const std::string> args);
int InfoCommand(std::span<const std::string> args);
int ConfigCommand(std::span<const std::string> args);
int DemoCommand(std::span<const std::string> args);

}  // namespace rq43::cli
