#include "app/skins.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <cmath>
#include <cstring>
#include <set>

#include "app/carried_data.h"
#include "ui/skin_engine.h"
#include "ui/skin_format.h"

namespace pennacle {
namespace {

QString u(const char16_t* s) { return QString::fromUtf16(s); }

// A window laid out like the ledger's: entry group, buttons, report list, status bar.
std::unique_ptr<QWidget> ledger_like_window() {
  auto w = std::make_unique<QWidget>();
  w->setWindowTitle(u(u"Pennacle"));
  auto* grid = new QGridLayout(w.get());
  auto* entry = new QGroupBox(u(u"记账"));
  auto* eg = new QGridLayout(entry);
  auto* kind = new QComboBox;
  kind->addItems({u(u"支出"), u(u"收入")});
  auto* channel = new QComboBox;
  channel->addItems({u(u"支付宝"), u(u"微信"), u(u"股票"), u(u"基金"), u(u"QQ钱包"), u(u"银行卡")});
  eg->addWidget(new QLabel(u(u"类型")), 0, 0);
  eg->addWidget(kind, 0, 1);
  eg->addWidget(new QLabel(u(u"金额")), 0, 2);
  eg->addWidget(new QLineEdit(u(u"128.50")), 0, 3);
  eg->addWidget(new QLabel(u(u"收付款方式")), 1, 0);
  eg->addWidget(channel, 1, 1);
  eg->addWidget(new QLabel(u(u"备注")), 1, 2);
  eg->addWidget(new QLineEdit(u(u"午饭")), 1, 3);
  grid->addWidget(entry, 0, 0, 1, 2);
  grid->addWidget(new QPushButton(u(u"添加记录")), 1, 0);
  grid->addWidget(new QPushButton(u(u"生成信息")), 1, 1);
  auto* list = new QTreeWidget;
  list->setRootIsDecorated(false);
  list->setAlternatingRowColors(true);
  list->setHeaderLabels({u(u"类型"), u(u"金额"), u(u"收付款方式"), u(u"时间"), u(u"备注")});
  list->addTopLevelItem(
      new QTreeWidgetItem({u(u"支出"), "128.5", u(u"支付宝"), "2026-12-08 09:12", u(u"午饭")}));
  list->addTopLevelItem(
      new QTreeWidgetItem({u(u"收入"), "8000", u(u"银行卡"), "2026-12-01 10:00", u(u"工资")}));
  list->addTopLevelItem(new QTreeWidgetItem({u(u"支出"), "36", u(u"微信"), "2026-12-07 19:40", ""}));
  list->topLevelItem(1)->setSelected(true);
  grid->addWidget(list, 2, 0, 1, 2);
  auto* status = new QStatusBar;
  status->addWidget(new QLabel(u(u"今日")));
  status->addWidget(new QLabel("1"));
  status->addWidget(new QLabel(u(u"本月")));
  status->addWidget(new QLabel("3"));
  grid->addWidget(status, 3, 0, 1, 2);
  w->resize(560, 380);
  w->show();
  return w;
}

class Skins : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "skins_test";
    static char* argv[] = {name, nullptr};
    if (!qApp) new QApplication(argc, argv);
    StartUp();
  }
  void SetUp() override { window_ = ledger_like_window(); }
  void TearDown() override {
    skin_detach();
    window_.reset();
  }
  QImage look() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    return window_->grab().toImage();
  }
  std::unique_ptr<QWidget> window_;
};

uint32_t read32(Word address) {
  uint32_t v;
  std::memcpy(&v, reinterpret_cast<const void*>(address), 4);
  return v;
}

TEST_F(Skins, CarriedEngineLoadsAtItsBaseAndExportsImportJumps) {
  MemoryModule& engine = skin_engine();
  ASSERT_NE(engine.BaseAddress(), 0u);
  EXPECT_EQ(engine.nt_headers().OptionalHeader.ImageBase, 0x10000000u);
  EXPECT_EQ(engine.nt_headers().OptionalHeader.SectionAlignment, 0x1000u);
  EXPECT_EQ(engine.nt_headers().FileHeader.Machine, pe::kMachineI386);
  EXPECT_TRUE(engine.nt_headers().FileHeader.Characteristics & pe::kDll);
  EXPECT_EQ(engine.sections().size(), 3u);
  for (const Word code :
       {engine.FindExport("Skin_AttachRes"), engine.FindExport("Skin_Detach"), engine.EntryPointAddress()}) {
    ASSERT_NE(code, 0u);
    EXPECT_EQ(read32(code) & 0xFFFF, 0x25FFu);
    // The slot lies inside the image and holds a bound host procedure.
    const uint32_t slot = read32(code + 2);
    EXPECT_GE(slot, engine.BaseAddress());
    EXPECT_TRUE(is_host_address(read32(slot)));
  }
  EXPECT_GT(engine.nt_headers().OptionalHeader.DataDirectory[pe::kDirBaseReloc].Size, 0u);
}

TEST_F(Skins, Skin27AttachesAndDetachRestoresTheLook) {
  const QImage before = look();
  ApplySkin(kProgramSkin);
  ASSERT_TRUE(skin_attached());
  const QImage with = look();
  EXPECT_NE(with, before);
  DetachSkin();
  EXPECT_FALSE(skin_attached());
  const QImage after = look();
  EXPECT_EQ(after, before);
  const QString dir = QString::fromUtf8(SCREENSHOT_DIR);
  EXPECT_TRUE(before.save(dir + "/skin_none.png"));
  EXPECT_TRUE(with.save(dir + "/skin_27.png"));
  EXPECT_TRUE(after.save(dir + "/skin_after_detach.png"));
}

TEST_F(Skins, NumbersOutsideOneToThirtyThreeDoNothing) {
  const QImage before = look();
  for (int n : {0, 34, -1, -27, 1000}) {
    ApplySkin(n);
    EXPECT_FALSE(skin_attached()) << n;
  }
  EXPECT_EQ(look(), before);
}

TEST_F(Skins, EveryCarriedSkinAttachesAndDetachesCleanly) {
  const QImage before = look();
  std::set<std::string> names;
  std::set<QByteArray> looks;
  for (int n = 1; n <= kCarriedSkinCount; ++n) {
    ApplySkin(n);
    ASSERT_TRUE(skin_attached()) << n;
    const QImage with = look();
    with.save(QString::fromUtf8(SCREENSHOT_DIR) + QString("/skin_%1.png").arg(n, 2, 10, QChar('0')));
    looks.insert(QByteArray(reinterpret_cast<const char*>(with.constBits()), with.sizeInBytes()));
    DetachSkin();
    ASSERT_EQ(look(), before) << "skin " << n << " left a trace";
  }
  EXPECT_EQ(looks.size(), static_cast<size_t>(kCarriedSkinCount)) << "two skins look the same";
}

// WCAG contrast of two 0xAARRGGBB colours.
double contrast(uint32_t a, uint32_t b) {
  auto lum = [](uint32_t c) {
    double sum = 0;
    const double weight[3] = {0.0722, 0.7152, 0.2126};
    for (int i = 0; i < 3; ++i) {
      double v = ((c >> (8 * i)) & 0xFF) / 255.0;
      sum += weight[i] * (v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
    }
    return sum;
  };
  double x = lum(a), y = lum(b);
  if (x < y) std::swap(x, y);
  return (x + 0.05) / (y + 0.05);
}

TEST(CarriedSkins, AreWellFormedDistinctAndReadable) {
  EXPECT_EQ(carried_skin(0), nullptr);
  EXPECT_EQ(carried_skin(34), nullptr);
  std::set<std::string> names;
  std::set<std::vector<uint32_t>> palettes;
  for (int n = 1; n <= kCarriedSkinCount; ++n) {
    const ByteSetHeader* block = carried_skin(n);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->marker, kByteSetMarker);
    const std::string_view bytes = byteset_view(block);
    ASSERT_EQ(bytes.substr(0, 4), ".SKN");
    const auto skin = read_skin({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    ASSERT_TRUE(skin.ok()) << "skin " << n << ": " << skin.status().message();
    names.insert(skin->name);
    std::map<int, uint32_t> active;  // role -> colour for every group
    std::vector<uint32_t> colours;
    for (const SkinColour& c : skin->palette) {
      if (c.group == kSkinGroupAll) active[c.role] = c.argb;
      colours.push_back(c.argb);
    }
    palettes.insert(colours);
    // Text on its background: window, base, alternate rows, buttons, selection, tool tips.
    const std::pair<int, int> pairs[] = {{0, 10}, {6, 9}, {6, 16}, {8, 1}, {13, 12}, {19, 18}};
    for (auto [fg, bg] : pairs) {
      ASSERT_TRUE(active.count(fg) && active.count(bg)) << "skin " << n;
      EXPECT_GE(contrast(active[fg], active[bg]), 4.5) << "skin " << n << " roles " << fg << "/" << bg;
    }
  }
  EXPECT_EQ(names.size(), static_cast<size_t>(kCarriedSkinCount));
  EXPECT_EQ(palettes.size(), static_cast<size_t>(kCarriedSkinCount));
}

}  // namespace
}  // namespace pennacle
