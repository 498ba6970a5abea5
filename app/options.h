// The program's command line: what to run and on which address and port.
#ifndef QUILLMERE_APP_OPTIONS_H
#define QUILLMERE_APP_OPTIONS_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillmere {

inline constexpr std::uint16_t kDefaultPort = 12345;
inline constexpr std::string_view kDefaultBindAddress = "0.0.0.0";
/// What --version prints (followed by "\n").
inline constexpr std::string_view kVersionText = "Quillmere 1.0";
/// The exit code after a bad command line.
inline constexpr int kBadCommandLineExitCode = 2;

/// How the program runs.
struct Options {
  bool headless = false;                         ///< no window; lines go to standard output
  std::uint16_t port = kDefaultPort;             ///< 0 lets the system choose a free port
  std::string bindAddress{kDefaultBindAddress};  ///< numeric IPv4 or IPv6 address
  std::optional<std::string> clockUrl;           ///< unset: the built-in clock server
};

/// What main does after parsing.
enum class CommandAction {
  kRun,          ///< run with `options`
  kShowHelp,     ///< print UsageText() to standard output, exit 0
  kShowVersion,  ///< print kVersionText to standard output, exit 0
  kFail,         ///< print `error` and UsageText() to standard error, exit 2
};

struct CommandLine {
  CommandAction action = CommandAction::kRun;
  Options options;
  std::string error;  ///< kFail only: one line without "\n", e.g. "unknown option '--prot'"
};

/// Parses the arguments after the program name, left to right: the first --help, --version or
/// error decides. Options: --headless, --port N (0..65535), --bind ADDRESS, --clock-url URL
/// (http:// or https://), --help or -h, --version; a value may also follow "=" (--port=8080).
/// A repeated option takes its last value. Example: {"--port", "8080"} gives kRun with port 8080;
/// {"--port", "x"} gives kFail with "invalid port 'x': expected a number from 0 to 65535".
CommandLine ParseCommandLine(std::span<const std::string_view> args);

/// The same for main's arguments (argv[0] is the program name and is skipped).
CommandLine ParseCommandLine(int argc, const char* const* argv);

/// The usage text, several lines each ending in "\n".
std::string UsageText();

}  // namespace quillmere

#endif  // QUILLMERE_APP_OPTIONS_H
