#include "app/main_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <utility>

#include "app/output_list.h"

namespace quillmere {

MainWindow::MainWindow(ServiceControl control, QWidget* parent)
    : QWidget(parent), control_(std::move(control)) {
  setWindowTitle(QStringLiteral("QuillmereV1.0  Beta"));
  setGeometry(50, 50, 359, 192);
  setFixedSize(359, 192);

  outputList_ = new OutputList(this);
  outputList_->setObjectName(QStringLiteral("列表框_输出"));
  outputList_->setGeometry(8, 8, 336, 104);

  auto* ipCaption = new QLabel(QStringLiteral("IP:"), this);
  ipCaption->setObjectName(QStringLiteral("标签3"));
  ipCaption->setGeometry(8, 128, 24, 24);

  addressLabel_ = new QLabel(this);
  addressLabel_->setObjectName(QStringLiteral("标签4"));
  addressLabel_->setGeometry(34, 128, 96, 24);

  startButton_ = new QPushButton(QStringLiteral("启动"), this);
  startButton_->setObjectName(QStringLiteral("按钮_启动"));
  startButton_->setGeometry(152, 119, 80, 34);

  stopButton_ = new QPushButton(QStringLiteral("停止"), this);
  stopButton_->setObjectName(QStringLiteral("按钮_停止"));
  stopButton_->setGeometry(259, 119, 80, 34);

  connect(startButton_, &QPushButton::clicked, this, &MainWindow::OnStartClicked);
  connect(stopButton_, &QPushButton::clicked, this, &MainWindow::OnStopClicked);
  SetServiceState(kServiceStarting);
}

MainWindow::~MainWindow() {
  RunTeardown();
}

void MainWindow::SetServiceState(ServiceState state) {
  serviceState_ = state;
  startButton_->setEnabled(!tornDown_ && state == kServiceStopped);
  stopButton_->setEnabled(!tornDown_ && state == kServiceStarted);
}

void MainWindow::SetLocalAddress(std::string_view address) {
  addressLabel_->setText(QString::fromUtf8(address.data(), static_cast<qsizetype>(address.size())));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  RunTeardown();
  event->accept();
}

void MainWindow::OnStartClicked() {
  if (tornDown_) return;
  SetServiceState(kServiceStarting);
  const bool started = control_.start && control_.start();
  SetServiceState(started ? kServiceStarted : kServiceStopped);
}

void MainWindow::OnStopClicked() {
  if (tornDown_) return;
  SetServiceState(kServiceStopping);
  if (control_.stop) control_.stop();
  SetServiceState(kServiceStopped);
}

void MainWindow::RunTeardown() {
  if (tornDown_) return;
  tornDown_ = true;
  SetServiceState(serviceState_);  // both buttons off: the service is gone
  if (control_.teardown) control_.teardown();
}

}  // namespace quillmere
