// One attach/detach round trip of the program's skin on a live top-level window, shared by the
// skin tests: the skin must change the look and detach must give back exactly the look before.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QString>
#include <QWidget>

#include "app/skins.h"
#include "ui/skin_engine.h"

namespace pennacle::testing {

// What the window shows once pending paints have run.
inline QImage look(QWidget* w) {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  return w->grab().toImage();
}

// Saves the three looks under `dir` as <name>_no_skin.png, <name>_skin_27.png and
// <name>_after_detach.png.
inline void expect_skin_round_trip(QWidget* top, const QString& dir, const QString& name) {
  const QImage before = look(top);
  ApplySkin(kProgramSkin);
  ASSERT_TRUE(skin_attached());
  const QImage with = look(top);
  DetachSkin();
  EXPECT_FALSE(skin_attached());
  const QImage after = look(top);
  EXPECT_TRUE(before.save(dir + "/" + name + "_no_skin.png"));
  EXPECT_TRUE(with.save(dir + "/" + name + "_skin_27.png"));
  EXPECT_TRUE(after.save(dir + "/" + name + "_after_detach.png"));
  EXPECT_NE(with, before);
  EXPECT_EQ(after, before);
}

}  // namespace pennacle::testing
