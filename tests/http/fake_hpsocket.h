// A recording fake of the engine's C interface (hpsocket/HPSocket4C.h), linked into a test
// binary in place of the `hpsocket` library.
//
// Every engine function appends one Call to a log: its name and its arguments written as texts
// (handles in hex, "null" for null pointers, texts quoted, byte buffers quoted up to 64 bytes,
// header and buffer arrays listed, in-out counts and lengths as "*value on entry", other out
// pointers as "ptr"). Its result comes from a hook installed with OnCall or Returns, or else from
// a default: TRUE, 0 or null, kListener / kServer / kPool for the Create functions, and a fresh
// task object for Create_HP_SocketTaskObj (freed by Destroy_HP_SocketTaskObj or Reset).
//
// The log and the hooks are guarded by one mutex; hooks run outside it.
#ifndef QUILLMERE_TESTS_HTTP_FAKE_HPSOCKET_H
#define QUILLMERE_TESTS_HTTP_FAKE_HPSOCKET_H

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "hpsocket/HPSocket4C.h"

namespace fake_hpsocket {

inline const HP_HttpServerListener kListener = reinterpret_cast<HP_HttpServerListener>(0x1157);
inline const HP_HttpServer kServer = reinterpret_cast<HP_HttpServer>(0x5e5);
inline const HP_ThreadPool kPool = reinterpret_cast<HP_ThreadPool>(0x9001);

/// One call that reached the engine.
struct Call {
  std::string function;
  std::vector<std::string> args;

  friend bool operator==(const Call&, const Call&) = default;
};
void PrintTo(const Call& call, std::ostream* os);

/// Forgets the log and the hooks and frees the task objects the fake made.
void Reset();
/// The whole log, oldest first.
std::vector<Call> Calls();
/// The calls to one function, oldest first.
std::vector<Call> CallsTo(std::string_view function);
/// The names of the functions called, oldest first.
std::vector<std::string> Functions();

/// How the log writes arguments, for building expected calls.
std::string Handle(const void* pointer);  // "null" or "0x5e5"
std::string Text(const char* text);       // "null" or "\"text\""

namespace detail {
void SetHook(std::uintptr_t function, std::any hook);
std::any GetHook(std::uintptr_t function);
template <typename R, typename... A>
std::uintptr_t Key(R (*function)(A...)) {
  return reinterpret_cast<std::uintptr_t>(function);
}
}  // namespace detail

/// From now on each call of `function` runs `hook`, whose result is the call's result.
template <typename R, typename... A>
void OnCall(R (*function)(A...), std::type_identity_t<std::function<R(A...)>> hook) {
  detail::SetHook(detail::Key(function), std::any(std::move(hook)));
}

/// From now on the calls of `function` return `results` in turn, the last one repeatedly.
template <typename R, typename... A>
void Returns(R (*function)(A...), std::type_identity_t<std::vector<R>> results) {
  auto remaining = std::make_shared<std::vector<R>>(std::move(results));
  OnCall(function, [remaining](A...) {
    R result = remaining->front();
    if (remaining->size() > 1) remaining->erase(remaining->begin());
    return result;
  });
}

/// Runs the hook installed for `function`, or gives `fallback`. Used by the fake functions.
template <typename R, typename... A>
R Run(R (*function)(A...), std::type_identity_t<R> fallback, std::type_identity_t<A>... args) {
  std::any hook = detail::GetHook(detail::Key(function));
  if (!hook.has_value()) return fallback;
  return std::any_cast<std::function<R(A...)>&>(hook)(args...);
}

template <typename... A>
void RunVoid(void (*function)(A...), std::type_identity_t<A>... args) {
  std::any hook = detail::GetHook(detail::Key(function));
  if (hook.has_value()) std::any_cast<std::function<void(A...)>&>(hook)(args...);
}

}  // namespace fake_hpsocket

#endif  // QUILLMERE_TESTS_HTTP_FAKE_HPSOCKET_H
