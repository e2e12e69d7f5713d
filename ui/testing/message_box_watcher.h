// Test support: closes the real modal windows a test opens (message boxes, popup menus) and
// records what they showed. Header only; use on the user-interface thread.
//
//   MessageBoxWatcher watcher;                  // answers every box with its default button
//   watcher.answer(QMessageBox::No);            // or with a chosen one
//   ... code that calls message_box ...
//   ASSERT_EQ(watcher.boxes().size(), 1u);
//   EXPECT_EQ(watcher.boxes()[0].text, QStringLiteral("添加成功"));
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <vector>

namespace pennacle::testing_support {

struct SeenBox {
  QString text;
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton default_button = QMessageBox::NoButton;
  Qt::WindowModality modality = Qt::NonModal;
  QWidget* parent = nullptr;
  int width = 0;  // as shown
};

class MessageBoxWatcher {
 public:
  MessageBoxWatcher() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
  }
  // The button the next box is closed with (queued, one per box); without one, the default
  // button (or the only one) is clicked.
  void answer(QMessageBox::StandardButton b) { answers_.push_back(b); }
  const std::vector<SeenBox>& boxes() const { return boxes_; }
  void clear() { boxes_.clear(); }

 private:
  void poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box || !box->isVisible() || handled_.contains(box)) continue;
      handled_.push_back(box);
      SeenBox seen{box->text(),           box->windowTitle(),    box->icon(),        box->standardButtons(),
                   QMessageBox::NoButton, box->windowModality(), box->parentWidget()};
      seen.width = box->width();
      if (box->defaultButton()) seen.default_button = box->standardButton(box->defaultButton());
      boxes_.push_back(seen);
      QMessageBox::StandardButton b = seen.default_button;
      if (!answers_.empty()) {
        b = answers_.front();
        answers_.pop_front();
      }
      QAbstractButton* button = b != QMessageBox::NoButton ? box->button(b) : nullptr;
      if (!button && !box->buttons().isEmpty()) button = box->buttons().first();
      if (button) button->click();
    }
    // Boxes that are gone no longer need a mark.
    handled_.removeIf([](const QPointer<QMessageBox>& p) { return p.isNull(); });
  }

  QTimer timer_;
  std::deque<QMessageBox::StandardButton> answers_;
  std::vector<SeenBox> boxes_;
  QList<QPointer<QMessageBox>> handled_;
};

struct SeenMenu {
  QStringList entries;  // texts of the visible entries, separators as "-"
  QPoint position;      // where the menu opened (screen)
};

// Closes popup menus: triggers the entry with the text given (or none, just closing the menu).
class PopupMenuWatcher {
 public:
  PopupMenuWatcher() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
  }
  void choose(const QString& entry) { choice_ = entry; }
  const std::vector<SeenMenu>& menus() const { return menus_; }

 private:
  void poll() {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu || !menu->isVisible()) return;
    SeenMenu seen{{}, menu->pos()};
    QAction* pick = nullptr;
    for (QAction* a : menu->actions()) {
      if (!a->isVisible()) continue;
      seen.entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
      if (!choice_.isEmpty() && a->text() == choice_) pick = a;
    }
    menus_.push_back(seen);
    if (!pick) {
      menu->close();
      return;
    }
    // As the keyboard chooses: the menu closes and reports the entry.
    menu->setActiveAction(pick);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(menu, &press);
  }

  QTimer timer_;
  QString choice_;
  std::vector<SeenMenu> menus_;
};

}  // namespace pennacle::testing_support
