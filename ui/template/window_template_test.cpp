#include "ui/template/window_template.h"

#include <gtest/gtest.h>

#include "ui/template/byte_stream.h"
#include "ui/template/kind_settings.h"

namespace pennacle {
namespace {

constexpr int32_t kWin = 0x52010001;
constexpr int32_t kWinUnit = 0x06010000;

UnitTemplate control(int32_t id, uint32_t kind, int32_t parent = 0) {
  UnitTemplate u;
  u.id = id;
  u.kind = kind;
  u.parent = parent;
  u.left = 1;
  u.top = 2;
  u.width = 30;
  u.height = 40;
  u.name = "控件";
  return u;
}

UnitTemplate menu(int32_t id, int32_t level, const char* caption, int32_t flags = 0, int32_t handler = -1) {
  UnitTemplate u;
  u.id = id;
  u.kind = kKindMenu;
  u.level = level;
  u.caption = caption;
  u.menu_flags = flags;
  u.handler = handler;
  return u;
}

WindowTemplate sample_window(int32_t id = kWin) {
  WindowTemplate w;
  w.id = id;
  w.header[0] = 7;
  UnitTemplate win = control(kWinUnit, kKindWindow);
  win.name = "窗口";
  WindowSettings ws;
  ws.caption = "标题";
  win.settings = ws.encode();
  win.bindings = {{0, 1}, {2, -1}};
  w.units.push_back(win);
  w.units.push_back(menu(0x26010001, 0, "菜单", kMenuHidden));
  w.units.push_back(menu(0x26010002, 1, "删除", 0, 3));
  UnitTemplate group = control(0x16010003, kKindGroupBox);
  group.children = {0x16010004, 0, 0x16010005};
  group.tag = "tag";
  group.cursor = std::string("\x01\x00\x02", 3);
  w.units.push_back(group);
  UnitTemplate button = control(0x16010004, kKindButton, 0x16010003);
  button.shared = 0x16010005;
  button.bindings = {{0, 2}};
  ButtonSettings bs;
  bs.caption = "确定";
  button.settings = bs.encode();
  w.units.push_back(button);
  w.units.push_back(control(0x16010005, kKindButton, 0x16010003));
  return w;
}

TemplateSet sample_set() {
  TemplateSet set;
  set.windows.push_back(sample_window());
  set.windows.push_back(sample_window(0x52010002));
  set.windows[1].units.resize(1);
  return set;
}

TEST(TemplateForm, WriterAndReaderAgree) {
  TemplateSet set = sample_set();
  std::string bytes = write_templates(set);
  auto back = read_templates(bytes);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, set);
  EXPECT_EQ(write_templates(*back), bytes);
  const UnitTemplate* b = back->windows[0].find(0x16010004);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->settings, set.windows[0].units[4].settings);
  EXPECT_EQ(back->windows[0].units[2].handler, 3);
}

TEST(TemplateForm, LayoutOfTheWindowTable) {
  std::string bytes = write_templates(sample_set());
  ByteReader r(bytes);
  uint32_t len = 0, id0 = 0, id1 = 0, placeholder = 0, h0 = 0, h1 = 0, t1 = 0, t2 = 0, count = 0;
  r.u32(&len);
  r.u32(&id0);
  r.u32(&id1);
  r.u32(&placeholder);
  r.skip(4);
  r.u32(&h0);
  r.u32(&h1);
  r.u32(&t1);
  r.u32(&t2);
  r.u32(&count);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(len, 16u);
  EXPECT_EQ(id0, static_cast<uint32_t>(kWin));
  EXPECT_EQ(id1, 0x52010002u);
  EXPECT_EQ(h0, 7u);
  EXPECT_EQ(t1, 0u);  // two empty texts
  EXPECT_EQ(t2, 0u);
  EXPECT_EQ(count, 6u);
  // The units block: ids, then offsets counted from the end of the offsets.
  uint32_t block = 0, first_id = 0;
  r.u32(&block);
  r.u32(&first_id);
  EXPECT_EQ(first_id, static_cast<uint32_t>(kWinUnit));
  r.skip(4 * 5);
  uint32_t off0 = 1;
  r.u32(&off0);
  EXPECT_EQ(off0, 0u);
}

TEST(TemplateForm, EveryTruncationIsRefused) {
  std::string bytes = write_templates(sample_set());
  for (size_t n = 0; n < bytes.size(); ++n)
    EXPECT_FALSE(read_templates(std::string_view(bytes).substr(0, n)).has_value()) << n;
  EXPECT_FALSE(read_templates(bytes + '\0').has_value()) << "trailing byte";
}

TEST(TemplateForm, OversizedCountsAndOffsetsAreRefused) {
  std::string bytes = write_templates(sample_set());
  // Window table length not a multiple of 8, or beyond the data.
  for (uint32_t bad : {15u, 0xFFFFFFF8u}) {
    std::string b = bytes;
    for (int i = 0; i < 4; ++i) b[i] = static_cast<char>(bad >> (8 * i));
    EXPECT_FALSE(read_templates(b).has_value());
  }
  // A record offset past the records, found by writing a one-unit window by hand.
  ByteWriter w;
  ByteWriter table;
  table.i32(kWin);
  table.u32(0);
  w.block(table.data());
  w.zeros(16);
  w.u32(1);
  ByteWriter body;
  body.i32(kWinUnit);
  body.u32(1000);
  body.block("xxxx");
  w.block(body.data());
  EXPECT_FALSE(read_templates(w.data()).has_value());
  // A huge unit count with a small block.
  std::string b = bytes;
  size_t count_at = 4 + 16 + 8 + 8;
  for (int i = 0; i < 4; ++i) b[count_at + i] = static_cast<char>(0xFF);
  EXPECT_FALSE(read_templates(b).has_value());
}

TEST(TemplateForm, StructuralFaultsAreRefused) {
  auto refused = [](WindowTemplate w) {
    TemplateSet set;
    set.windows.push_back(std::move(w));
    return !read_templates(write_templates(set)).has_value();
  };
  EXPECT_FALSE(refused(sample_window()));
  {
    WindowTemplate w = sample_window();
    w.units[5].id = w.units[4].id;  // repeated unit id
    EXPECT_TRUE(refused(w));
  }
  {
    WindowTemplate w = sample_window();
    std::swap(w.units[0], w.units[3]);  // first unit is not the window
    EXPECT_TRUE(refused(w));
  }
  {
    WindowTemplate w = sample_window();
    std::swap(w.units[2], w.units[3]);  // menu items not consecutive
    EXPECT_TRUE(refused(w));
  }
  {
    WindowTemplate w = sample_window();
    w.units[3].parent = 0x16010004;  // group inside its own child
    EXPECT_TRUE(refused(w));
  }
  {
    WindowTemplate w = sample_window();
    w.units[4].parent = 0x26010001;  // a menu item as container
    EXPECT_TRUE(refused(w));
  }
  {
    WindowTemplate w = sample_window();
    w.units[3].children.push_back(0x16019999);  // no such child
    EXPECT_TRUE(refused(w));
  }
  {
    WindowTemplate w = sample_window();
    w.units[2].kind = kKindButton;  // a menu id with a control kind
    EXPECT_TRUE(refused(w));
  }
  {
    WindowTemplate w = sample_window();
    w.id = 0x06010001;  // not a window id
    EXPECT_TRUE(refused(w));
  }
  {
    TemplateSet set = sample_set();
    set.windows[1].id = set.windows[0].id;  // repeated window id
    EXPECT_FALSE(read_templates(write_templates(set)).has_value());
  }
}

TEST(UnitIds, TypeBits) {
  EXPECT_TRUE(is_window_id(0x52010001));
  EXPECT_FALSE(is_window_id(0x06010000));
  EXPECT_EQ(unit_type(0x06010000), UnitType::Window);
  EXPECT_EQ(unit_type(0x1601565f), UnitType::Control);
  EXPECT_EQ(unit_type(0x26015686), UnitType::MenuItem);
  EXPECT_EQ(unit_type(0x36015686), UnitType::Invalid);
  EXPECT_EQ(unit_type(0x12015686), UnitType::Invalid);
}

TEST(KindSettings, RoundTripAndDefaults) {
  EditBoxSettings e;
  e.content = "内容";
  e.input_mode = kInputDecimalText;
  e.password_char = '#';
  e.sel_length = 3;
  auto e2 = EditBoxSettings::decode(e.encode());
  ASSERT_TRUE(e2);
  EXPECT_EQ(e2->content, "内容");
  EXPECT_EQ(e2->input_mode, kInputDecimalText);
  EXPECT_EQ(e2->password_char, '#');
  EXPECT_EQ(e2->sel_length, 3);
  EXPECT_EQ(e2->spin_max, 100);

  ComboBoxSettings c;
  c.items = {"支付宝", "微信"};
  c.values = {5, 6};
  c.current = 1;
  auto c2 = ComboBoxSettings::decode(c.encode());
  ASSERT_TRUE(c2);
  EXPECT_EQ(c2->items, c.items);
  EXPECT_EQ(c2->values, c.values);
  EXPECT_EQ(c2->current, 1);

  StatusBarSettings s;
  s.panes = {{90, 0, -1, "本日记录:", ""}, {-1, kPanePopOut, -1, "", "tip"}};
  auto s2 = StatusBarSettings::decode(s.encode());
  ASSERT_TRUE(s2);
  EXPECT_EQ(s2->panes, s.panes);

  // An empty block is every setting at its default.
  auto d = ButtonSettings::decode("");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->caption, "按钮");
  EXPECT_EQ(d->h_align, 1);
  auto w = WindowSettings::decode("");
  ASSERT_TRUE(w);
  EXPECT_EQ(w->border, 2);
  EXPECT_EQ(w->position, 1);
  EXPECT_TRUE(w->control_box);
  EXPECT_FALSE(w->maximize_box);
}

// Replaces the version word at the front of a settings block.
std::string with_version(std::string block, uint32_t v) {
  for (int i = 0; i < 4; ++i) block[i] = static_cast<char>(v >> (8 * i));
  return block;
}

TEST(KindSettings, NewerFormatVersionIsRefused) {
  EXPECT_TRUE(EditBoxSettings::decode(with_version(EditBoxSettings().encode(), 2)));
  EXPECT_FALSE(EditBoxSettings::decode(with_version(EditBoxSettings().encode(), 3)));
  EXPECT_TRUE(ComboBoxSettings::decode(with_version(ComboBoxSettings().encode(), 3)));
  EXPECT_FALSE(ComboBoxSettings::decode(with_version(ComboBoxSettings().encode(), 4)));
  EXPECT_FALSE(ButtonSettings::decode(with_version(ButtonSettings().encode(), 2)));
  EXPECT_FALSE(GroupBoxSettings::decode(with_version(GroupBoxSettings().encode(), 2)));
  EXPECT_FALSE(TransLabelSettings::decode(with_version(TransLabelSettings().encode(), 2)));
  EXPECT_FALSE(StatusBarSettings::decode(with_version(StatusBarSettings().encode(), 2)));
  EXPECT_FALSE(WindowSettings::decode(with_version(WindowSettings().encode(), 2)));
}

TEST(KindSettings, TruncatedOrInconsistentBlocksAreRefused) {
  ComboBoxSettings c;
  c.items = {"a", "b"};
  std::string block = c.encode();
  for (size_t n = 1; n < block.size(); ++n) EXPECT_FALSE(ComboBoxSettings::decode(block.substr(0, n))) << n;
  c.values = {1};  // one value for two items
  EXPECT_FALSE(ComboBoxSettings::decode(c.encode()));
  EditBoxSettings e;
  e.font = "short";  // a font block is empty or one 60-byte record
  EXPECT_FALSE(EditBoxSettings::decode(e.encode()));
  StatusBarSettings s;
  s.panes.resize(3);
  std::string panes = s.encode();
  for (size_t n = 1; n < panes.size(); ++n) EXPECT_FALSE(StatusBarSettings::decode(panes.substr(0, n))) << n;
}

TEST(KindSettings, FontRecord) {
  LogFont f;
  f.height = -24;
  f.charset = 134;
  f.face = std::string(40, 'x');  // longer than the record holds
  std::string b = f.encode();
  ASSERT_EQ(b.size(), LogFont::kSize);
  auto back = LogFont::decode(b);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->height, -24);
  EXPECT_EQ(back->charset, 134);
  EXPECT_EQ(back->face, std::string(31, 'x'));
  EXPECT_FALSE(LogFont::decode(b.substr(1)));
}

}  // namespace
}  // namespace pennacle
