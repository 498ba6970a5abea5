// Shared by the window tests: a QApplication on the offscreen platform for the whole run, and a
// way to let the window thread work until something has happened.
#ifndef QUILLMERE_TESTS_APP_QT_ENVIRONMENT_H
#define QUILLMERE_TESTS_APP_QT_ENVIRONMENT_H

#include <chrono>
#include <functional>

namespace quillmere::testing_support {

/// Processes the window thread's events until `done` is true or `timeout` passes; returns `done`.
bool ProcessEventsUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace quillmere::testing_support

#endif  // QUILLMERE_TESTS_APP_QT_ENVIRONMENT_H
