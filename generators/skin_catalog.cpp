#include "generators/skin_catalog.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace pennacle {
namespace {

// Qt's colour role numbers.
namespace role {
enum : uint8_t {
  kWindowText = 0,
  kButton = 1,
  kLight = 2,
  kMidlight = 3,
  kDark = 4,
  kMid = 5,
  kText = 6,
  kBrightText = 7,
  kButtonText = 8,
  kBase = 9,
  kWindow = 10,
  kShadow = 11,
  kHighlight = 12,
  kHighlightedText = 13,
  kLink = 14,
  kLinkVisited = 15,
  kAlternateBase = 16,
  kToolTipBase = 18,
  kToolTipText = 19,
  kPlaceholderText = 20,
};
}  // namespace role
constexpr uint8_t kDisabled = 1, kAll = 3;

struct Theme {
  const char* name;
  uint32_t window, base, text, accent, accent_text;
  bool dark;
  int radius;          // corner radius of buttons and edit boxes
  const char* family;  // nullptr keeps the system font
  int point_size;
};

// Hand-picked: each pair that carries text keeps a contrast of at least 4.5 (checked below).
constexpr Theme kThemes[kSkinCount] = {
    {"Porcelain", 0xF3F4F6, 0xFFFFFF, 0x1F2328, 0x0969DA, 0xFFFFFF, false, 4, nullptr, 0},
    {"Linen", 0xF5F0E6, 0xFFFCF5, 0x3B3024, 0x8A4F14, 0xFFFFFF, false, 3, "DejaVu Serif", 10},
    {"Mint", 0xEEF6F1, 0xFFFFFF, 0x1D3328, 0x1B6E45, 0xFFFFFF, false, 5, nullptr, 0},
    {"Sky", 0xEAF2FB, 0xFFFFFF, 0x16283D, 0x1C5FAB, 0xFFFFFF, false, 4, nullptr, 0},
    {"Lavender", 0xF1EEF8, 0xFFFFFF, 0x2A2340, 0x6441A5, 0xFFFFFF, false, 6, nullptr, 0},
    {"Rose", 0xFAF0F2, 0xFFFFFF, 0x3A1F27, 0xA82C4A, 0xFFFFFF, false, 6, nullptr, 0},
    {"Sand", 0xF4EDE1, 0xFFFBF3, 0x3A3226, 0x7A5C14, 0xFFFFFF, false, 2, nullptr, 0},
    {"Slate", 0xE9ECEF, 0xF8F9FA, 0x212529, 0x495057, 0xFFFFFF, false, 3, nullptr, 0},
    {"Citrus", 0xF7F6EA, 0xFFFFF8, 0x2E2E1F, 0x4F6B0C, 0xFFFFFF, false, 8, nullptr, 0},
    {"Coral", 0xFBF1EC, 0xFFFFFF, 0x3A221A, 0xB23A0B, 0xFFFFFF, false, 4, nullptr, 0},
    {"Lagoon", 0xE8F3F5, 0xFFFFFF, 0x12313A, 0x0E6A82, 0xFFFFFF, false, 4, nullptr, 0},
    {"Paper", 0xFAFAF7, 0xFFFFFF, 0x222222, 0x333333, 0xFFFFFF, false, 0, "DejaVu Sans Mono", 9},
    {"Plum", 0xF5EEF4, 0xFFFFFF, 0x341B30, 0x86198F, 0xFFFFFF, false, 5, nullptr, 0},
    {"Olive", 0xF0F1E6, 0xFCFCF6, 0x2B2D1C, 0x55641B, 0xFFFFFF, false, 3, nullptr, 0},
    {"Steel", 0xE7EBF0, 0xF7F9FB, 0x1B2430, 0x3B5B7F, 0xFFFFFF, false, 2, nullptr, 0},
    {"Honey", 0xFBF5E4, 0xFFFDF6, 0x3A2E12, 0x8F5606, 0xFFFFFF, false, 6, nullptr, 0},
    {"Sakura", 0xFBF2F5, 0xFFFFFF, 0x3B2530, 0xB0175A, 0xFFFFFF, false, 8, nullptr, 0},
    {"Glacier", 0xEEF5FA, 0xFFFFFF, 0x102A43, 0x2461A3, 0xFFFFFF, false, 4, nullptr, 0},
    {"Graphite", 0x2B2D31, 0x1E1F22, 0xE6E7E9, 0x4C8DFF, 0x0B1220, true, 4, nullptr, 0},
    {"Midnight", 0x1B2033, 0x141827, 0xE3E8F5, 0x7AA2F7, 0x10131F, true, 5, nullptr, 0},
    {"Forest", 0x1F2A24, 0x17201B, 0xE2EDE6, 0x5FBF8F, 0x0E1611, true, 4, nullptr, 0},
    {"Espresso", 0x2E2420, 0x231B18, 0xF1E6DE, 0xD9A066, 0x231B18, true, 3, "DejaVu Serif", 10},
    {"Aubergine", 0x2A1F2D, 0x201724, 0xEEE3F0, 0xC58AF9, 0x1A1220, true, 6, nullptr, 0},
    {"Carbon", 0x222222, 0x1A1A1A, 0xEDEDED, 0xF59E0B, 0x1A1A1A, true, 2, nullptr, 0},
    {"Deep Sea", 0x142A33, 0x0E2027, 0xDDF1F5, 0x38BDF8, 0x0A1A20, true, 4, nullptr, 0},
    {"Ember", 0x2B1D1B, 0x211614, 0xF4E3DF, 0xFB7F5C, 0x211614, true, 4, nullptr, 0},
    {"Jade", 0xEEF3F1, 0xFFFFFF, 0x1E2B27, 0x1B7F6B, 0xFFFFFF, false, 4, "DejaVu Sans", 10},
    {"Nord", 0x2E3440, 0x3B4252, 0xECEFF4, 0x88C0D0, 0x2E3440, true, 4, nullptr, 0},
    {"Solar Light", 0xFDF6E3, 0xFFFDF5, 0x3B4A52, 0x1A6FA8, 0xFFFFFF, false, 3, nullptr, 0},
    {"Solar Dark", 0x002B36, 0x073642, 0xE4E0CF, 0x2AA198, 0x002B36, true, 3, nullptr, 0},
    {"Terminal", 0x101410, 0x0A0D0A, 0xC8F7C5, 0x3FB950, 0x0A0D0A, true, 0, "DejaVu Sans Mono", 10},
    {"Dusk", 0x2D2A3E, 0x24212F, 0xECE8F6, 0xF2A7C3, 0x24212F, true, 6, nullptr, 0},
    {"High Contrast", 0xFFFFFF, 0xFFFFFF, 0x000000, 0x0000AA, 0xFFFFFF, false, 0, nullptr, 11},
};

uint32_t mix(uint32_t a, uint32_t b, double t) {
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    double x = ((a >> shift) & 0xFF) * (1 - t) + ((b >> shift) & 0xFF) * t;
    out |= static_cast<uint32_t>(std::lround(x)) << shift;
  }
  return out;
}

std::string css(uint32_t rgb) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%06X", rgb & 0xFFFFFF);
  return buf;
}

void replace_all(std::string& s, const std::string& key, const std::string& value) {
  for (size_t at = s.find(key); at != std::string::npos; at = s.find(key, at + value.size()))
    s.replace(at, key.size(), value);
}

// One style sheet for every skin; the theme fills in colours and shapes. Every control kind the
// program shows is covered so no part keeps the system look beside a skinned one.
constexpr const char* kStyleTemplate = R"(QWidget {
  color: @text; background-color: @window;
  selection-background-color: @accent; selection-color: @accentText;
}
QLabel, QCheckBox, QRadioButton { background: transparent; }
QPushButton {
  color: @text; background-color: @button; border: 1px solid @border;
  border-radius: @radiuspx; padding: 4px 14px; min-height: 18px;
}
QPushButton:hover { background-color: @hover; border-color: @accent; }
QPushButton:pressed, QPushButton:checked { background-color: @accent; color: @accentText; border-color: @accent; }
QPushButton:default { border: 1px solid @accent; }
QPushButton:disabled { color: @disabled; border-color: @border; }
QLineEdit, QComboBox, QTextEdit, QPlainTextEdit, QSpinBox, QDoubleSpinBox, QDateEdit {
  color: @text; background-color: @base; border: 1px solid @border;
  border-radius: @radiuspx; padding: 2px 6px;
}
QLineEdit:focus, QComboBox:focus, QTextEdit:focus, QPlainTextEdit:focus, QSpinBox:focus { border: 1px solid @accent; }
QLineEdit:disabled, QComboBox:disabled { color: @disabled; background-color: @window; }
QComboBox QAbstractItemView {
  color: @text; background-color: @base; border: 1px solid @border;
  selection-background-color: @accent; selection-color: @accentText; outline: none;
}
QTreeView, QListView, QTableView, QTreeWidget, QListWidget, QTableWidget {
  color: @text; background-color: @base; alternate-background-color: @alt;
  border: 1px solid @border; gridline-color: @border;
}
QTreeView::item:selected, QListView::item:selected, QTableView::item:selected {
  background-color: @accent; color: @accentText;
}
QHeaderView { background-color: @header; }
QHeaderView::section {
  color: @text; background-color: @header; border: none;
  border-right: 1px solid @border; border-bottom: 1px solid @border; padding: 4px 6px;
}
QGroupBox { border: 1px solid @border; border-radius: @radiuspx; margin-top: 12px; padding-top: 4px; }
QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 4px; color: @title; }
QStatusBar { color: @text; background-color: @header; border-top: 1px solid @border; }
QStatusBar::item { border: none; }
QStatusBar QLabel { padding: 0 6px; }
QMenuBar { background-color: @window; }
QMenuBar::item:selected, QMenu::item:selected { background-color: @accent; color: @accentText; }
QMenu { color: @text; background-color: @base; border: 1px solid @border; padding: 3px; }
QMenu::item { padding: 4px 22px 4px 18px; }
QMenu::separator { height: 1px; background: @border; margin: 3px 6px; }
QToolTip { color: @text; background-color: @base; border: 1px solid @accent; padding: 3px; }
QScrollBar:vertical { background: @window; width: 12px; margin: 0; }
QScrollBar:horizontal { background: @window; height: 12px; margin: 0; }
QScrollBar::handle { background: @handle; border-radius: 4px; min-height: 24px; min-width: 24px; margin: 2px; }
QScrollBar::handle:hover { background: @accent; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }
QScrollBar::add-page, QScrollBar::sub-page { background: none; }
)";

Skin make_skin(const Theme& t) {
  const uint32_t button = t.dark ? mix(t.window, t.text, 0.10) : mix(t.window, t.base, 0.55);
  const uint32_t header = t.dark ? mix(t.window, t.accent, 0.10) : mix(t.window, t.accent, 0.08);
  const uint32_t border = mix(t.window, t.text, t.dark ? 0.28 : 0.25);
  const uint32_t alt = mix(t.base, t.window, t.dark ? 0.55 : 0.65);
  const uint32_t disabled = mix(t.text, t.window, 0.5);
  // Group box titles take the accent when it reads well on the window, else the text colour.
  const uint32_t title = contrast_ratio(t.accent, t.window) >= 4.5 ? t.accent : t.text;

  const struct {
    const char* what;
    uint32_t fg, bg;
  } pairs[] = {{"text on window", t.text, t.window},    {"text on base", t.text, t.base},
               {"text on button", t.text, button},      {"text on header", t.text, header},
               {"text on alternate rows", t.text, alt}, {"selected text", t.accent_text, t.accent},
               {"group title", title, t.window}};
  for (const auto& p : pairs) {
    if (contrast_ratio(p.fg, p.bg) < 4.5)
      throw std::logic_error(std::string("skin ") + t.name + ": " + p.what + " is hard to read");
  }

  Skin s;
  s.name = t.name;
  auto add = [&](uint8_t group, uint8_t role, uint32_t rgb) {
    s.palette.push_back(SkinColour{group, role, 0xFF000000u | rgb});
  };
  add(kAll, role::kWindow, t.window);
  add(kAll, role::kWindowText, t.text);
  add(kAll, role::kBase, t.base);
  add(kAll, role::kAlternateBase, alt);
  add(kAll, role::kText, t.text);
  add(kAll, role::kButton, button);
  add(kAll, role::kButtonText, t.text);
  add(kAll, role::kHighlight, t.accent);
  add(kAll, role::kHighlightedText, t.accent_text);
  add(kAll, role::kToolTipBase, t.base);
  add(kAll, role::kToolTipText, t.text);
  add(kAll, role::kPlaceholderText, disabled);
  add(kAll, role::kLink, title);
  add(kAll, role::kLinkVisited, title);
  add(kAll, role::kBrightText, t.dark ? 0xFFFFFF : 0x000000);
  add(kAll, role::kLight, mix(button, 0xFFFFFF, 0.5));
  add(kAll, role::kMidlight, mix(button, 0xFFFFFF, 0.25));
  add(kAll, role::kMid, border);
  add(kAll, role::kDark, mix(button, t.text, 0.25));
  add(kAll, role::kShadow, border);
  add(kDisabled, role::kWindowText, disabled);
  add(kDisabled, role::kText, disabled);
  add(kDisabled, role::kButtonText, disabled);
  if (t.family) s.font = SkinFont{static_cast<uint16_t>(t.point_size), 400, t.family};

  std::string sheet = kStyleTemplate;
  replace_all(sheet, "@accentText", css(t.accent_text));
  replace_all(sheet, "@accent", css(t.accent));
  replace_all(sheet, "@text", css(t.text));
  replace_all(sheet, "@window", css(t.window));
  replace_all(sheet, "@base", css(t.base));
  replace_all(sheet, "@button", css(button));
  replace_all(sheet, "@hover", css(mix(button, t.accent, 0.12)));
  replace_all(sheet, "@border", css(border));
  replace_all(sheet, "@header", css(header));
  replace_all(sheet, "@alt", css(alt));
  replace_all(sheet, "@disabled", css(disabled));
  replace_all(sheet, "@title", css(title));
  replace_all(sheet, "@handle", css(mix(t.window, t.text, 0.35)));
  replace_all(sheet, "@radius", std::to_string(t.radius));
  if (t.point_size && !t.family) {
    sheet = "* { font-size: " + std::to_string(t.point_size) + "pt; }\n" + sheet;
  }
  s.style_sheet = std::move(sheet);
  return s;
}

double luminance(uint32_t rgb) {
  double sum = 0;
  const double weight[3] = {0.0722, 0.7152, 0.2126};  // blue, green, red
  for (int i = 0; i < 3; ++i) {
    double c = ((rgb >> (8 * i)) & 0xFF) / 255.0;
    c = c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    sum += weight[i] * c;
  }
  return sum;
}

}  // namespace

double contrast_ratio(uint32_t a, uint32_t b) {
  double la = luminance(a), lb = luminance(b);
  if (la < lb) std::swap(la, lb);
  return (la + 0.05) / (lb + 0.05);
}

std::vector<Skin> carried_skin_catalog() {
  std::vector<Skin> skins;
  for (const Theme& t : kThemes) skins.push_back(make_skin(t));
  return skins;
}

}  // namespace pennacle
