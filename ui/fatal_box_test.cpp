#include "ui/fatal_box.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "runtime/program_end.h"
#include "ui/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

struct SeenBox {
  QString text, title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  Qt::WindowModality modality = Qt::NonModal;
  int count = 0;
};

// Closes every message box that shows up, recording what it said.
class BoxWatcher {
 public:
  explicit BoxWatcher(bool report = false) : report_(report) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      std::lock_guard lock(mu_);
      seen_.text = box->text();
      seen_.title = box->windowTitle();
      seen_.icon = box->icon();
      seen_.modality = box->windowModality();
      ++seen_.count;
      if (report_) std::fprintf(stderr, "box closed\n");
      box->accept();
    });
    timer_.start();
  }
  SeenBox seen() {
    std::lock_guard lock(mu_);
    return seen_;
  }

 private:
  bool report_;
  QTimer timer_;
  std::mutex mu_;
  SeenBox seen_;
};

void start_runtime() { start({window()}); }

TEST(FatalBox, CriticalApplicationModalBoxTitledError) {
  start_runtime();
  BoxWatcher watcher;
  FatalReport r{"未载入欲访问窗口组件所在的窗口", 0, 0, 0};
  show_fatal_box(fatal_box_text(r), "错误");
  SeenBox seen = watcher.seen();
  ASSERT_EQ(seen.count, 1);
  EXPECT_EQ(seen.title, QStringLiteral("错误"));
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.modality, Qt::ApplicationModal);
  EXPECT_EQ(seen.text, QStringLiteral("运行时出错!\n\n错误信息：未载入欲访问窗口组件所在的窗口\n\n0, 0\n"));
}

TEST(FatalBox, WorkerThreadBoxIsShownByTheUserInterfaceThread) {
  start_runtime();
  BoxWatcher watcher;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    show_fatal_box("worker", "错误");
    done = true;
  });
  while (!done) QApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  SeenBox seen = watcher.seen();
  EXPECT_EQ(seen.count, 1);
  EXPECT_EQ(seen.text, QStringLiteral("worker"));
}

TEST(FatalBoxDeathTest, WorkerFatalShowsTheBoxAndEndsWith255) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        start_runtime();
        ASSERT_TRUE(load_window(kWin));
        BoxWatcher watcher(true);
        std::thread([] { report_fatal_message("来自工作线程"); }).detach();
        run_message_loop();
        std::exit(0);  // not reached: the fatal end comes first
      },
      ::testing::ExitedWithCode(255), "box closed");
}

TEST(FatalBoxDeathTest, WorkerFatalEndsTheProgramEvenWhileTheUserInterfaceThreadWaits) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        start_runtime();
        set_end_handover_waits(100, 100);
        std::mutex held;
        held.lock();  // the worker holds what the user-interface thread waits for
        std::thread([&] { report_fatal_message("来自工作线程"); }).detach();
        std::lock_guard wait(held);
        std::exit(0);
      },
      ::testing::ExitedWithCode(255), "0, 0");  // the box text, on the standard error stream
}

}  // namespace
}  // namespace pennacle
