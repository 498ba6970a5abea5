// The program: the HTTP service and the run log, run behind the window or headless.
//
// Both modes share one start-up sequence (libcurl, the server, the task pool, the event handlers,
// the run log) and one teardown; the window binds them to its buttons and its closing, headless
// mode starts the server at once and tears down on SIGINT or SIGTERM.
#ifndef QUILLMERE_APP_PROGRAM_H
#define QUILLMERE_APP_PROGRAM_H

#include <functional>
#include <string>

#include "app/main_window.h"
#include "app/options.h"

namespace quillmere {

/// The service side of the program over the program-wide HTTP service (ProgramHttpService), for
/// the address, port and clock server of `options`. One at a time per process. Main thread only
/// (the window thread in window mode).
class Program {
 public:
  explicit Program(Options options);
  /// Tears down when StartUp ran and TearDown has not.
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  /// The start-up sequence: starts libcurl (once per process), creates the server, creates and
  /// starts the task pool, installs the event handlers, then starts the run log (beside the
  /// program, stamped by the options' clock server or the built-in one). The server is not
  /// started.
  void StartUp();

  /// Starts the server on the options' address and port; on success writes the line
  /// "quillmere: listening on 0.0.0.0:41234" (the actual address and port) to standard error.
  /// False on failure, with `error` saying why, e.g.
  /// "cannot listen on 0.0.0.0:12345: Address already in use".
  bool StartServer(std::string& error);

  /// Stops the server (the pool keeps running); the result is the engine's.
  bool StopServer();

  /// The teardown: the pool is stopped (its tasks finish) before the server is destroyed, then
  /// the pool and the listener go. Later calls do nothing.
  void TearDown();

  /// The window's buttons and closing bound to StartServer (failures shown nowhere), StopServer
  /// and TearDown. The program must outlive the window.
  ServiceControl WindowControl();

 private:
  Options options_;
  bool startedUp_ = false;
};

/// The start-up sequence with the window: the window's output list starts receiving the output
/// lines, Program::StartUp runs, the window goes to state 5 (stopped) and 标签4 shows the local
/// IPv4 address. Window thread only.
void StartUpWithWindow(Program& program, MainWindow& window);

/// Runs Quillmere with its window until the window is closed; returns main's exit code (0).
/// SIGINT and SIGTERM close the window, tearing down as a close by the user does; they are
/// blocked before any thread starts, so call it from main before any other thread exists.
/// `ready`, when given, runs once the window is shown and the service is ready (a benchmark
/// presses 按钮_启动 there).
int RunWithWindow(const Options& options, int& argc, char** argv,
                  const std::function<void(MainWindow&)>& ready = {});

/// Runs Quillmere without a window: each output line goes to standard output as UTF-8, the server
/// starts at once, and SIGINT or SIGTERM tears down and gives 0. A server that cannot listen
/// gives a message on standard error and 1. Blocks SIGINT and SIGTERM before it starts any
/// thread, so every thread inherits the mask and only its sigwait takes them: call it from main
/// before any other thread exists.
int RunHeadless(const Options& options);

}  // namespace quillmere

#endif  // QUILLMERE_APP_PROGRAM_H
