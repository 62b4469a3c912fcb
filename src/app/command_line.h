#pragma once

#include <string>
#include <vector>

namespace auralist {

// What the command line asks for, read before any window or display is
// needed, so that --help and --version answer on a console.
struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    // For Error: what to tell the user.
    std::string error;
};

// Looks at argv as given to main: Auralist's own options (--help, -h,
// --version), Qt's options (left for QApplication), and paths. "--" ends
// the options: everything after it is a path. Any other word starting
// with '-' before it is an error.
CommandLine readCommandLine(int argc, const char *const *argv);

// The paths among what QApplication left of argv: every argument after
// argv[0] but the first "--".
std::vector<std::string> pathArguments(int argc, const char *const *argv);

// The texts printed for --help and --version.
std::string usageText();
std::string versionText();

} // namespace auralist
