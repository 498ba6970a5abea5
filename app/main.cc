// Quillmere's entry: reads the command line, then runs with the window or headless.
#include <cstdio>
#include <string>

#include "app/options.h"
#include "app/program.h"

int main(int argc, char** argv) {
  using namespace quillmere;
  const CommandLine command = ParseCommandLine(argc, argv);
  switch (command.action) {
    case CommandAction::kShowHelp:
      std::fputs(UsageText().c_str(), stdout);
      return 0;
    case CommandAction::kShowVersion:
      std::printf("%.*s\n", static_cast<int>(kVersionText.size()), kVersionText.data());
      return 0;
    case CommandAction::kFail:
      std::fprintf(stderr, "quillmere: %s\n%s", command.error.c_str(), UsageText().c_str());
      return kBadCommandLineExitCode;
    case CommandAction::kRun:
      break;
  }
  // No thread exists yet: headless mode blocks its stop signals for every thread to come.
  if (command.options.headless) return RunHeadless(command.options);
  return RunWithWindow(command.options, argc, argv);
}
