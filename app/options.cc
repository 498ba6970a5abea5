#include "app/options.h"

#include <arpa/inet.h>

#include <charconv>
#include <vector>

namespace quillmere {
namespace {

std::string Quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

bool IsNumericAddress(const std::string& address) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, address.c_str(), buffer) == 1 ||
         inet_pton(AF_INET6, address.c_str(), buffer) == 1;
}

// "http://" or "https://" in any case, followed by at least a host.
bool IsWebUrl(std::string_view url) {
  auto startsWithNoCase = [&](std::string_view prefix) {
    if (url.size() <= prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      char c = url[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != prefix[i]) return false;
    }
    return true;
  };
  return startsWithNoCase("http://") || startsWithNoCase("https://");
}

CommandLine Fail(std::string error) {
  CommandLine result;
  result.action = CommandAction::kFail;
  result.error = std::move(error);
  return result;
}

}  // namespace

CommandLine ParseCommandLine(std::span<const std::string_view> args) {
  CommandLine result;
  Options& options = result.options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view name = args[i];
    std::optional<std::string_view> inlineValue;  // from --name=value
    if (name.starts_with("--")) {
      if (const auto equals = name.find('='); equals != std::string_view::npos) {
        inlineValue = name.substr(equals + 1);
        name = name.substr(0, equals);
      }
    }
    const bool takesValue = name == "--port" || name == "--bind" || name == "--clock-url";
    if (!takesValue) {
      if (inlineValue) return Fail("option " + Quoted(name) + " takes no value");
      if (name == "--help" || name == "-h") {
        result.action = CommandAction::kShowHelp;
        return result;
      }
      if (name == "--version") {
        result.action = CommandAction::kShowVersion;
        return result;
      }
      if (name == "--headless") {
        options.headless = true;
        continue;
      }
      if (name.starts_with("-")) return Fail("unknown option " + Quoted(name));
      return Fail("unexpected argument " + Quoted(name));
    }

    std::string_view value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return Fail("option " + Quoted(name) + " needs a value");
    }

    if (name == "--port") {
      unsigned port = 0;
      const char* const end = value.data() + value.size();
      const auto [stop, error] = std::from_chars(value.data(), end, port);
      if (value.empty() || error != std::errc() || stop != end || port > 65535) {
        return Fail("invalid port " + Quoted(value) + ": expected a number from 0 to 65535");
      }
      options.port = static_cast<std::uint16_t>(port);
    } else if (name == "--bind") {
      std::string address(value);
      if (!IsNumericAddress(address)) {
        return Fail("invalid bind address " + Quoted(value) +
                    ": expected a numeric IPv4 or IPv6 address such as 0.0.0.0 or ::1");
      }
      options.bindAddress = std::move(address);
    } else {
      if (!IsWebUrl(value)) {
        return Fail("invalid clock URL " + Quoted(value) +
                    ": expected an http:// or https:// URL such as http://example.com/");
      }
      options.clockUrl = std::string(value);
    }
  }
  return result;
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return ParseCommandLine(args);
}

std::string UsageText() {
  return "Usage: quillmere [OPTION]...\n"
         "Receives text messages over HTTP, shows them and writes GET messages to the run log.\n"
         "\n"
         "  --headless        run without a window and serve at once; each message line goes\n"
         "                    to standard output as UTF-8\n"
         "  --port N          TCP port to listen on, 0 to 65535 (default 12345);\n"
         "                    0 lets the system choose a free port\n"
         "  --bind ADDRESS    numeric IPv4 or IPv6 address to listen on (default 0.0.0.0)\n"
         "  --clock-url URL   http:// or https:// URL whose Date header stamps the run log\n"
         "                    (default: the built-in clock server)\n"
         "  -h, --help        show this help and exit\n"
         "      --version     show the version and exit\n";
}

}  // namespace quillmere
