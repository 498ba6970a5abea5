#include "app/program.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/console_output.h"
#include "app/local_address.h"
#include "app/output.h"
#include "app/output_list.h"
#include "http/http_service.h"
#include "runlog/run_log.h"
#include "web/http_request_object.h"

namespace quillmere {
namespace {

// "0.0.0.0:12345", or "[::1]:12345" for an IPv6 address.
std::string Endpoint(std::string_view address, unsigned port) {
  std::string text = address.find(':') == std::string_view::npos ? std::string(address)
                                                                 : "[" + std::string(address) + "]";
  return text + ":" + std::to_string(port);
}

// SIGINT and SIGTERM, the signals that end Quillmere cleanly in either mode.
sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

Program::Program(Options options) : options_(std::move(options)) {}

Program::~Program() {
  TearDown();
}

void Program::StartUp() {
  if (startedUp_) return;
  startedUp_ = true;
  StartWebClient();
  ProgramHttpService().SetUp();
  RunLogSettings runLog;
  if (options_.clockUrl) runLog.clockUrl = *options_.clockUrl;
  StartRunLog(runLog);
}

bool Program::StartServer(std::string& error) {
  HttpService& service = ProgramHttpService();
  if (!IsServerHandle(service.ServerHandle())) {
    error = "cannot create the HTTP server";
    return false;
  }
  if (!service.Start(options_.bindAddress, options_.port)) {
    const int cause = errno;  // set by the engine's failed start
    error = "cannot listen on " + Endpoint(options_.bindAddress, options_.port) + ": " +
            std::strerror(cause);
    return false;
  }
  std::string address;
  USHORT port = 0;
  if (service.GetListenAddress(address, port)) {
    std::fprintf(stderr, "quillmere: listening on %s\n", Endpoint(address, port).c_str());
    std::fflush(stderr);
  }
  return true;
}

bool Program::StopServer() {
  return ProgramHttpService().Stop();
}

void Program::TearDown() {
  if (!startedUp_) return;
  startedUp_ = false;
  ProgramHttpService().TearDown();
}

ServiceControl Program::WindowControl() {
  return ServiceControl{
      .start =
          [this] {
            std::string error;  // a failed start shows nothing; the window goes back to stopped
            return StartServer(error);
          },
      .stop = [this] { return StopServer(); },
      .teardown = [this] { TearDown(); },
  };
}

void StartUpWithWindow(Program& program, MainWindow& window) {
  window.outputList()->InstallAsOutput();
  program.StartUp();
  window.SetServiceState(kServiceStopped);
  window.SetLocalAddress(LocalIpv4Address());
}

int RunWithWindow(const Options& options, int& argc, char** argv,
                  const std::function<void(MainWindow&)>& ready) {
  std::signal(SIGPIPE, SIG_IGN);  // a closed terminal or pipe must not end the program
  // SIGINT and SIGTERM close the window, so the teardown runs as when the user closes it. They
  // are blocked before Qt starts any thread and read on the window thread through a signalfd.
  const sigset_t stopSignals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const int signalFd = signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);

  QApplication application(argc, argv);
  Program program(options);
  MainWindow window(program.WindowControl());  // destroyed first: its teardown needs `program`
  QSocketNotifier stopNotifier(signalFd, QSocketNotifier::Read);
  stopNotifier.setEnabled(signalFd >= 0);
  QObject::connect(&stopNotifier, &QSocketNotifier::activated, &window, [&] {
    signalfd_siginfo received;
    while (::read(signalFd, &received, sizeof received) == sizeof received) {
    }
    window.close();
  });
  StartUpWithWindow(program, window);
  window.show();
  if (ready) ready(window);
  const int exitCode = application.exec();
  if (signalFd >= 0) ::close(signalFd);
  return exitCode;
}

int RunHeadless(const Options& options) {
  const sigset_t stopSignals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);  // a reader that goes away must not end the program

  ConsoleOutput console(stdout);
  ScopedOutputConsumer output(console);
  Program program(options);
  program.StartUp();
  std::string error;
  if (!program.StartServer(error)) {
    std::fprintf(stderr, "quillmere: %s\n", error.c_str());
    program.TearDown();
    return 1;
  }
  int signal = 0;
  while (sigwait(&stopSignals, &signal) != 0) {
  }
  program.TearDown();
  return 0;
}

}  // namespace quillmere
