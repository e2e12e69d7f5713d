#include "ui/skin_engine.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <thread>

#include "ui/skin_format.h"

namespace pennacle {
namespace {

std::vector<uint8_t> dark_skin() {
  Skin s;
  s.name = "Test dark";
  s.palette = {{3, 10, 0xFF202020}, {3, 0, 0xFFF0F0F0}, {3, 9, 0xFF101010}, {3, 6, 0xFFF0F0F0}};
  s.font = SkinFont{14, 700, "DejaVu Serif"};
  s.style_sheet = "QPushButton { background-color: #8040C0; color: white; border-radius: 6px; }";
  return write_skin(s);
}

std::vector<uint8_t> light_skin() {
  Skin s;
  s.name = "Test light";
  s.palette = {{3, 10, 0xFFFFF0E0}};
  s.style_sheet = "QLineEdit { border: 2px solid #C04000; }";
  return write_skin(s);
}

// A window with the kinds of controls the ledger shows.
class SkinEngine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "skin_engine_test";
    static char* argv[] = {name, nullptr};
    if (!qApp) new QApplication(argc, argv);
  }

  void SetUp() override {
    window_ = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window_.get());
    auto* box = new QGroupBox("Entry");
    auto* inner = new QVBoxLayout(box);
    inner->addWidget(new QLineEdit("12.50"));
    auto* combo = new QComboBox;
    combo->addItems({"one", "two"});
    inner->addWidget(combo);
    layout->addWidget(box);
    layout->addWidget(new QPushButton("Add"));
    auto* list = new QTreeWidget;
    list->setHeaderLabels({"Kind", "Amount"});
    list->addTopLevelItem(new QTreeWidgetItem(QStringList{"expense", "12.50"}));
    layout->addWidget(list);
    layout->addWidget(new QStatusBar);
    window_->resize(320, 360);
    window_->show();
  }

  void TearDown() override {
    skin_detach();
    window_.reset();
  }

  QImage look() {
    QApplication::processEvents();
    return window_->grab().toImage();
  }

  std::unique_ptr<QWidget> window_;
};

TEST_F(SkinEngine, DetachRestoresExactlyTheLookBeforeAttach) {
  const QImage before = look();
  const QString sheet = qApp->styleSheet();
  const QFont font = QApplication::font();
  ASSERT_TRUE(skin_attach(dark_skin()));
  EXPECT_TRUE(skin_attached());
  const QImage with = look();
  EXPECT_NE(with, before) << "the skin changed nothing";
  EXPECT_TRUE(skin_detach());
  EXPECT_FALSE(skin_attached());
  const QImage after = look();
  EXPECT_EQ(after, before);
  EXPECT_EQ(qApp->styleSheet(), sheet);
  EXPECT_EQ(QApplication::font(), font);
}

TEST_F(SkinEngine, ReattachReplacesTheSkinAndDetachStillRestoresTheOriginal) {
  const QImage before = look();
  ASSERT_TRUE(skin_attach(dark_skin()));
  const QImage dark = look();
  ASSERT_TRUE(skin_attach(light_skin()));
  const QImage light = look();
  EXPECT_NE(light, dark);
  EXPECT_NE(light, before);
  ASSERT_TRUE(skin_detach());
  EXPECT_EQ(look(), before);
}

TEST_F(SkinEngine, MalformedBlockChangesNothing) {
  const QImage before = look();
  auto block = dark_skin();
  block[block.size() - 1] ^= 1;  // the checksum no longer matches
  EXPECT_FALSE(skin_attach(block));
  EXPECT_FALSE(skin_attached());
  EXPECT_EQ(look(), before);
  EXPECT_FALSE(skin_attach({}));
  // A refused block over an attached skin keeps that skin.
  ASSERT_TRUE(skin_attach(light_skin()));
  const QImage light = look();
  EXPECT_FALSE(skin_attach(block));
  EXPECT_EQ(look(), light);
}

TEST_F(SkinEngine, DetachWithoutSkinDoesNothing) {
  const QImage before = look();
  EXPECT_FALSE(skin_detach());
  EXPECT_EQ(look(), before);
}

TEST_F(SkinEngine, CallsFromAnotherThreadAreRefused) {
  const QImage before = look();
  bool attached = true;
  std::thread t([&] { attached = skin_attach(dark_skin()); });
  t.join();
  EXPECT_FALSE(attached);
  EXPECT_FALSE(skin_attached());
  EXPECT_EQ(look(), before);
}

TEST_F(SkinEngine, WindowsCreatedWhileAttachedTakeTheSkin) {
  QLineEdit plain("x");
  plain.resize(100, 30);
  plain.show();
  QApplication::processEvents();
  const QImage before = plain.grab().toImage();
  ASSERT_TRUE(skin_attach(light_skin()));
  QLineEdit later("x");
  later.resize(100, 30);
  later.show();
  QApplication::processEvents();
  EXPECT_NE(later.grab().toImage(), before);
}

}  // namespace
}  // namespace pennacle
