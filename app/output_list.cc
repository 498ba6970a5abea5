#include "app/output_list.h"

#include <QKeyEvent>
#include <QMetaObject>

#include "text/codepage.h"

namespace quillmere {

OutputList::OutputList(QWidget* parent)
    : QListWidget(parent), backlog_([this] {
        // On the appending thread: a queued call, so it never waits for the window thread.
        QMetaObject::invokeMethod(this, &OutputList::DrainSoon, Qt::QueuedConnection);
      }) {
  drainTimer_.setSingleShot(true);
  drainTimer_.setTimerType(Qt::PreciseTimer);  // never early: the interval is a minimum
  connect(&drainTimer_, &QTimer::timeout, this, &OutputList::Drain);
  setSortingEnabled(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
}

OutputList::~OutputList() {
  RemoveOutputConsumer(&backlog_);
}

void OutputList::InstallAsOutput() {
  SetOutputConsumer(&backlog_);
}

void OutputList::DrainSoon() {
  if (drainTimer_.isActive()) return;  // a Drain is due anyway
  const qint64 elapsed = sinceDrain_.isValid() ? sinceDrain_.elapsed() : kDrainIntervalMs;
  if (elapsed >= kDrainIntervalMs) {
    Drain();
  } else {
    drainTimer_.start(static_cast<int>(kDrainIntervalMs - elapsed));
  }
}

void OutputList::Drain() {
  drainTimer_.stop();
  sinceDrain_.start();
  OutputBatch batch = backlog_.Take();
  if (batch.appended == 0) return;
  const AppendPlan plan = PlanAppends(static_cast<std::size_t>(count()), batch.appended);
  if (plan.clearFirst) clear();
  for (auto line = batch.lines.end() - static_cast<std::ptrdiff_t>(plan.add);
       line != batch.lines.end(); ++line) {
    addItem(QString::fromStdString(GbkToUtf8(*line)));
  }
  scrollToBottom();
}

void OutputList::ClearOutput() {
  backlog_.Take();  // what was queued before the clear would be cleared with the rest
  clear();
}

void OutputList::keyPressEvent(QKeyEvent* event) {
  const bool plainKey =
      (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;
  if (plainKey && (event->text() == QLatin1String("C") || event->text() == QLatin1String("c"))) {
    ClearOutput();
    event->accept();
    return;
  }
  QListWidget::keyPressEvent(event);
}

}  // namespace quillmere
