// Quillmere with its window, 按钮_启动 pressed as soon as the window is up: the same program as
// build/quillmere (same options), for measuring the window's server without anyone clicking.
//
//   quillmere_window_started --bind 127.0.0.1 --port 0
#include <QPushButton>
#include <cstdio>

#include "app/options.h"
#include "app/program.h"

int main(int argc, char** argv) {
  using namespace quillmere;
  const CommandLine command = ParseCommandLine(argc, argv);
  if (command.action != CommandAction::kRun || command.options.headless) {
    std::fprintf(stderr, "usage: %s [--bind ADDRESS] [--port N] [--clock-url URL]\n", argv[0]);
    return kBadCommandLineExitCode;
  }
  return RunWithWindow(command.options, argc, argv, [](MainWindow& window) {
    if (auto* start = window.findChild<QPushButton*>(QStringLiteral("按钮_启动"))) start->click();
  });
}
