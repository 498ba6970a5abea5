#include "app/options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace quillmere {
namespace {

CommandLine Parse(std::initializer_list<std::string_view> args) {
  const std::vector<std::string_view> list(args);
  return ParseCommandLine(list);
}

std::string Joined(std::initializer_list<std::string_view> args) {
  std::string text;
  for (std::string_view arg : args)
    text += std::string(text.empty() ? "" : " ") + "'" + std::string(arg) + "'";
  return text;
}

TEST(ParseCommandLine, NoArgumentsRunsTheWindowWithDefaults) {
  const CommandLine result = Parse({});
  EXPECT_EQ(result.action, CommandAction::kRun);
  EXPECT_FALSE(result.options.headless);
  EXPECT_EQ(result.options.port, 12345);
  EXPECT_EQ(result.options.bindAddress, "0.0.0.0");
  EXPECT_FALSE(result.options.clockUrl.has_value());
}

struct GoodCase {
  std::initializer_list<std::string_view> args;
  bool headless;
  std::uint16_t port;
  std::string_view bind;
  std::optional<std::string_view> clockUrl;
  const char* why;
};

TEST(ParseCommandLine, GoodOptions) {
  const GoodCase cases[] = {
      {{"--headless"}, true, 12345, "0.0.0.0", {}, "headless alone keeps the defaults"},
      {{"--port", "8080"}, false, 8080, "0.0.0.0", {}, "value as the next argument"},
      {{"--port=8080"}, false, 8080, "0.0.0.0", {}, "value after ="},
      {{"--port", "0"}, false, 0, "0.0.0.0", {}, "0 lets the system choose, as tests need"},
      {{"--port", "65535"}, false, 65535, "0.0.0.0", {}, "the highest port"},
      {{"--port", "1", "--port", "2"}, false, 2, "0.0.0.0", {}, "the last value wins"},
      {{"--bind", "127.0.0.1"}, false, 12345, "127.0.0.1", {}, "IPv4 loopback"},
      {{"--bind", "::1"}, false, 12345, "::1", {}, "IPv6 literals are accepted by the server"},
      {{"--clock-url", "http://127.0.0.1:8080/"},
       false,
       12345,
       "0.0.0.0",
       "http://127.0.0.1:8080/",
       "a local stand-in for the clock server"},
      {{"--clock-url=HTTPS://example.com"},
       false,
       12345,
       "0.0.0.0",
       "HTTPS://example.com",
       "the scheme is matched in any case"},
      {{"--headless", "--port", "0", "--bind", "127.0.0.1", "--clock-url", "http://h/"},
       true,
       0,
       "127.0.0.1",
       "http://h/",
       "all together, as the end-to-end tests run it"},
  };
  for (const GoodCase& c : cases) {
    SCOPED_TRACE(Joined(c.args) + ": " + c.why);
    const CommandLine result = Parse(c.args);
    ASSERT_EQ(result.action, CommandAction::kRun) << result.error;
    EXPECT_EQ(result.options.headless, c.headless);
    EXPECT_EQ(result.options.port, c.port);
    EXPECT_EQ(result.options.bindAddress, c.bind);
    EXPECT_EQ(result.options.clockUrl, c.clockUrl);
  }
}

struct BadCase {
  std::initializer_list<std::string_view> args;
  std::string_view error;
};

// Each bad command line names what is wrong; main adds the usage and exits with 2.
TEST(ParseCommandLine, BadOptions) {
  const BadCase cases[] = {
      {{"--prot", "1"}, "unknown option '--prot'"},
      {{"-x"}, "unknown option '-x'"},
      {{"hello"}, "unexpected argument 'hello'"},
      {{"--port"}, "option '--port' needs a value"},
      {{"--headless", "--bind"}, "option '--bind' needs a value"},
      {{"--port", "x"}, "invalid port 'x': expected a number from 0 to 65535"},
      {{"--port", ""}, "invalid port '': expected a number from 0 to 65535"},
      {{"--port="}, "invalid port '': expected a number from 0 to 65535"},
      {{"--port", "65536"}, "invalid port '65536': expected a number from 0 to 65535"},
      {{"--port", "-1"}, "invalid port '-1': expected a number from 0 to 65535"},
      {{"--port", "+80"}, "invalid port '+80': expected a number from 0 to 65535"},
      {{"--port", "80x"}, "invalid port '80x': expected a number from 0 to 65535"},
      {{"--port", " 80"}, "invalid port ' 80': expected a number from 0 to 65535"},
      {{"--port", "99999999999999999999"},
       "invalid port '99999999999999999999': expected a number from 0 to 65535"},
      {{"--bind", "localhost"},
       "invalid bind address 'localhost': expected a numeric IPv4 or IPv6 address such as "
       "0.0.0.0 or ::1"},
      {{"--bind", "1.2.3"},
       "invalid bind address '1.2.3': expected a numeric IPv4 or IPv6 address such as 0.0.0.0 "
       "or ::1"},
      {{"--clock-url", "ftp://h/"},
       "invalid clock URL 'ftp://h/': expected an http:// or https:// URL such as "
       "http://example.com/"},
      {{"--clock-url", "http://"},
       "invalid clock URL 'http://': expected an http:// or https:// URL such as "
       "http://example.com/"},
      {{"--headless=yes"}, "option '--headless' takes no value"},
      {{"--port", "x", "--help"}, "invalid port 'x': expected a number from 0 to 65535"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    const CommandLine result = Parse(c.args);
    EXPECT_EQ(result.action, CommandAction::kFail);
    EXPECT_EQ(result.error, c.error);
  }
}

TEST(ParseCommandLine, HelpAndVersionStopParsing) {
  EXPECT_EQ(Parse({"--help"}).action, CommandAction::kShowHelp);
  EXPECT_EQ(Parse({"-h"}).action, CommandAction::kShowHelp);
  EXPECT_EQ(Parse({"--version"}).action, CommandAction::kShowVersion);
  // What comes after them is not looked at, as with most tools.
  EXPECT_EQ(Parse({"--help", "--port", "x"}).action, CommandAction::kShowHelp);
  EXPECT_EQ(Parse({"--headless", "--version", "junk"}).action, CommandAction::kShowVersion);
  EXPECT_EQ(kVersionText, "Quillmere 1.0");
}

TEST(ParseCommandLine, MainArgumentsSkipTheProgramName) {
  const char* argv[] = {"quillmere", "--headless", "--port", "0"};
  const CommandLine result = ParseCommandLine(4, argv);
  EXPECT_EQ(result.action, CommandAction::kRun);
  EXPECT_TRUE(result.options.headless);
  EXPECT_EQ(result.options.port, 0);
}

TEST(UsageText, NamesEveryOption) {
  const std::string usage = UsageText();
  for (std::string_view option :
       {"--headless", "--port N", "--bind ADDRESS", "--clock-url URL", "--help", "--version"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(usage.back(), '\n');
}

}  // namespace
}  // namespace quillmere
