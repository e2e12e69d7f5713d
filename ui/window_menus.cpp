// Menus of a window: its menu bar with the shortcuts, popup menus of one item's descendants, and
// the command identifiers that reach the items' selected events.
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include "ui/template/unit_events.h"
#include "ui/text_codec.h"
#include "ui/window_registry.h"

namespace pennacle {
namespace {
// Key names of menu shortcuts: 1..26 Ctrl+A..Ctrl+Z, 27..38 F1..F12; anything else none.
QString shortcut_name(int32_t key) {
  if (key >= 1 && key <= 26) return QStringLiteral("Ctrl+") + QChar('A' + key - 1);
  if (key >= 27 && key <= 38) return QStringLiteral("F%1").arg(key - 26);
  return {};
}

struct MenuNode {
  int index;  // unit index
  int position;
  std::vector<int> children;  // node indices
};

// The window's menu items as a tree by level: an item belongs to the nearest preceding item of a
// lower level. Returns the nodes; `roots` gets the top-level ones.
std::vector<MenuNode> menu_tree(const WindowTemplate& t, std::vector<int>* roots) {
  std::vector<MenuNode> nodes;
  std::vector<int> stack;  // node indices of the open path
  for (int i = 0; i < static_cast<int>(t.units.size()); ++i) {
    const UnitTemplate& u = t.units[i];
    if (!u.is_menu()) continue;
    int node = static_cast<int>(nodes.size());
    nodes.push_back({i, node, {}});
    while (!stack.empty() && t.units[nodes[stack.back()].index].level >= u.level) stack.pop_back();
    if (stack.empty())
      roots->push_back(node);
    else
      nodes[stack.back()].children.push_back(node);
    stack.push_back(node);
  }
  return nodes;
}

QAction* add_menu_entry(QWidget* menu, const std::vector<MenuNode>& nodes, int node, const WindowTemplate& t,
                        int32_t window_id);

void fill_menu(QMenu* menu, const std::vector<MenuNode>& nodes, const std::vector<int>& children,
               const WindowTemplate& t, int32_t window_id) {
  for (int c : children) add_menu_entry(menu, nodes, c, t, window_id);
}

QAction* add_menu_entry(QWidget* menu, const std::vector<MenuNode>& nodes, int node, const WindowTemplate& t,
                        int32_t window_id) {
  const UnitTemplate& u = t.units[nodes[node].index];
  if (u.menu_flags & kMenuHidden) return nullptr;
  QAction* a = nullptr;
  if (u.caption == "-") {
    a = new QAction(menu);
    a->setSeparator(true);
    menu->addAction(a);
    return a;
  }
  QString text = to_qstring(u.caption);
  QString key = shortcut_name(u.shortcut);
  if (!key.isEmpty()) text += QLatin1Char('\t') + key;
  if (!nodes[node].children.empty()) {
    auto* sub = new QMenu(text, menu);
    fill_menu(sub, nodes, nodes[node].children, t, window_id);
    a = sub->menuAction();
  } else {
    a = new QAction(text, menu);
    const int command = kFirstMenuCommand + nodes[node].position;
    a->setData(command);
    QObject::connect(a, &QAction::triggered, a,
                     [window_id, command] { dispatch_menu_command(window_id, command); });
  }
  a->setEnabled(!(u.menu_flags & kMenuDisabled));
  if (u.menu_flags & kMenuChecked) {
    a->setCheckable(true);
    a->setChecked(true);
  }
  menu->addAction(a);
  return a;
}

}  // namespace

void build_menu_bar(LiveWindow& w) {
  WindowControl* control = window_control(w);
  RuntimeWindow* win = control ? control->window() : nullptr;
  if (!win) return;
  QMenuBar* bar = win->menu_bar();
  bar->clear();
  // Shortcuts live on the window so that hidden items keep them.
  for (QAction* a : win->actions()) {
    win->removeAction(a);
    a->deleteLater();
  }
  std::vector<int> roots;
  std::vector<MenuNode> nodes = menu_tree(*w.tmpl, &roots);
  for (int r : roots) add_menu_entry(bar, nodes, r, *w.tmpl, w.id);
  for (const MenuNode& n : nodes) {
    const UnitTemplate& u = w.tmpl->units[n.index];
    QString key = shortcut_name(u.shortcut);
    if (key.isEmpty() || (u.menu_flags & kMenuDisabled)) continue;
    auto* a = new QAction(win);
    a->setShortcut(QKeySequence(key));
    const int command = kFirstMenuCommand + n.position;
    const int32_t id = w.id;
    QObject::connect(a, &QAction::triggered, a, [id, command] { dispatch_menu_command(id, command); });
    win->addAction(a);
  }
  win->relayout();
}

void dispatch_menu_command(int32_t window_id, int32_t command_id) {
  if (command_id < kFirstMenuCommand || command_id >= kFirstSystemCommand) return;
  LiveWindow* lw = live_window(window_id);
  if (!alive(lw)) return;
  const int position = command_id - kFirstMenuCommand;
  const auto& units = lw->tmpl->units;
  for (int i = 0; i < static_cast<int>(units.size()); ++i)
    if (units[i].is_menu() && menu_position(*lw->tmpl, i) == position) {
      fire_event(window_id, units[i].id, kMenuItemSelected);
      return;
    }
}

bool build_popup_menu(int32_t window_id, int32_t item_unit_id, QMenu* menu) {
  LiveWindow* lw = live_window(window_id);
  if (!alive(lw)) return false;
  int index = lw->tmpl->index_of(item_unit_id);
  if (index < 0 || !lw->tmpl->units[index].is_menu()) return false;
  std::vector<int> roots;
  std::vector<MenuNode> nodes = menu_tree(*lw->tmpl, &roots);
  for (const MenuNode& n : nodes)
    if (n.index == index) {
      fill_menu(menu, nodes, n.children, *lw->tmpl, window_id);
      return true;
    }
  return false;
}

}  // namespace pennacle
