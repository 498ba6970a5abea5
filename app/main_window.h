// The program's only window: the output list, the machine's IP address and
// the two buttons that start and stop the HTTP service.
#ifndef QUILLMERE_APP_MAIN_WINDOW_H
#define QUILLMERE_APP_MAIN_WINDOW_H

#include <QWidget>
#include <cstdint>
#include <functional>
#include <string_view>

class QLabel;
class QPushButton;

namespace quillmere {

class OutputList;

/// The service's state as the buttons show it.
using ServiceState = std::int32_t;
inline constexpr ServiceState kServiceStarting = 0;
inline constexpr ServiceState kServiceStarted = 1;
inline constexpr ServiceState kServiceStopping = 4;
inline constexpr ServiceState kServiceStopped = 5;

/// What the window does to the service, bound by the program (e.g. to the server component's
/// Start and Stop). Each runs on the window thread and may block it; an empty one does nothing
/// (an empty start counts as a failed start).
struct ServiceControl {
  std::function<bool()> start = {};     ///< starts the server; true when it now runs
  std::function<bool()> stop = {};      ///< stops it; the result is ignored
  std::function<void()> teardown = {};  ///< releases the service; runs once, when the window closes
                                        ///< or is destroyed, whichever comes first
};

/// The main window, a fixed 359 x 192 client area at 50, 50. Its controls carry their names as
/// object names: 列表框_输出 (the OutputList), 标签3, 标签4, 按钮_启动, 按钮_停止. It starts in
/// state 0 (both buttons disabled); the program sets 5 when the service is ready. Window thread
/// only.
class MainWindow : public QWidget {
  Q_OBJECT

 public:
  explicit MainWindow(ServiceControl control, QWidget* parent = nullptr);
  /// Runs the teardown if closing the window has not already.
  ~MainWindow() override;

  /// Stores `state` and enables 按钮_启动 exactly at 5 (stopped), 按钮_停止 exactly at 1 (started).
  void SetServiceState(ServiceState state);
  ServiceState serviceState() const { return serviceState_; }

  /// Shows `address` (ASCII, e.g. "192.168.1.5", or empty) in 标签4.
  void SetLocalAddress(std::string_view address);

  OutputList* outputList() const { return outputList_; }

 protected:
  /// Runs the teardown, then lets the window close.
  void closeEvent(QCloseEvent* event) override;

 private:
  /// 按钮_启动: state 0, start, then 1 when it runs or 5 when it failed.
  void OnStartClicked();
  /// 按钮_停止: state 4, stop, then 5 whatever the result.
  void OnStopClicked();
  void RunTeardown();

  ServiceControl control_;
  ServiceState serviceState_ = kServiceStarting;
  bool tornDown_ = false;  // after the teardown the service is gone and the buttons stay disabled
  OutputList* outputList_;
  QLabel* addressLabel_;
  QPushButton* startButton_;
  QPushButton* stopButton_;
};

}  // namespace quillmere

#endif  // QUILLMERE_APP_MAIN_WINDOW_H
