// The output list 列表框_输出: shows AppendOutput's lines in the window.
#ifndef QUILLMERE_APP_OUTPUT_LIST_H
#define QUILLMERE_APP_OUTPUT_LIST_H

#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>

#include "app/output_backlog.h"

namespace quillmere {

/// A list of output lines, newest last, always scrolled to the newest. An append to a list holding
/// more than 100 items clears it first. Lines from other threads are queued in a backlog and shown
/// in batches on the window thread, with the same result as appending them one at a time; under a
/// stream of lines the list is updated at most every kDrainIntervalMs, so the window's drawing
/// does not grow with the rate of messages. Typing C or c into the list clears it. Window thread
/// only, except consumer().Append.
class OutputList : public QListWidget {
  Q_OBJECT

 public:
  explicit OutputList(QWidget* parent = nullptr);
  /// Stops receiving AppendOutput's lines (waiting for appends in progress) before it goes.
  ~OutputList() override;

  /// Makes this list the consumer of AppendOutput until it is destroyed or another is installed.
  void InstallAsOutput();

  /// The shortest time between two updates from the backlog (a display frame or so).
  static constexpr int kDrainIntervalMs = 15;

  /// The queue this list shows; its Append is safe from any thread and wakes the list once per
  /// batch with a queued call to Drain.
  OutputConsumer& consumer() { return backlog_; }

  /// Shows every queued line now: applies the cap and scrolls to the newest. Runs by itself on
  /// the window thread after lines arrive; call it directly to show them without an event loop.
  void Drain();

  /// Removes every item. Lines queued before the call are dropped too, so none appears after it.
  void ClearOutput();

 protected:
  /// C or c (without Ctrl, Alt or Meta) clears the list; other keys keep their usual meaning.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  /// Drain, or, when the last one was less than kDrainIntervalMs ago, Drain once that much time
  /// has passed. Runs queued on the window thread when lines arrive.
  void DrainSoon();

  OutputBacklog backlog_;
  QTimer drainTimer_;         // single shot: the postponed Drain
  QElapsedTimer sinceDrain_;  // since the last Drain; invalid before the first
};

}  // namespace quillmere

#endif  // QUILLMERE_APP_OUTPUT_LIST_H
