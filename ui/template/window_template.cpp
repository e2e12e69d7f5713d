#include "ui/template/window_template.h"

#include <unordered_map>
#include <unordered_set>

#include "ui/template/byte_stream.h"

namespace pennacle {
namespace {

constexpr size_t kMenuReserved = 12;
constexpr size_t kControlReserved = 20;
constexpr int32_t kMaxMenuLevel = 64;

bool read_unit(std::string_view record, int32_t id, UnitTemplate* u) {
  ByteReader r(record);
  u->id = id;
  r.u32(&u->kind);
  r.i32(&u->shared);
  r.skip(16);
  r.cstr(&u->name);
  r.cstr(&u->comment);
  if (u->is_menu()) {
    r.i32(&u->shortcut);
    r.i32(&u->level);
    r.i32(&u->menu_flags);
    r.cstr(&u->caption);
    r.i32(&u->handler);
    r.skip(4 + kMenuReserved);
    return r.at_end();
  }
  uint32_t count = 0;
  r.skip(4);
  r.i32(&u->left);
  r.i32(&u->top);
  r.i32(&u->width);
  r.i32(&u->height);
  r.skip(4);
  r.i32(&u->parent);
  if (!r.u32(&count) || count > r.remaining() / 4) return false;
  u->children.resize(count);
  for (auto& c : u->children) r.i32(&c);
  r.block(&u->cursor);
  r.cstr(&u->tag);
  r.skip(4);
  r.i32(&u->state);
  r.i32(&u->tab);
  if (!r.u32(&count) || count > r.remaining() / 8) return false;
  u->bindings.resize(count);
  for (auto& b : u->bindings) {
    r.i32(&b.event);
    r.i32(&b.handler);
  }
  r.skip(kControlReserved);
  if (!r.ok()) return false;
  u->settings.assign(r.rest());
  return true;
}

void write_unit(ByteWriter& w, const UnitTemplate& u) {
  w.u32(u.kind);
  w.i32(u.shared);
  w.zeros(16);
  w.cstr(u.name);
  w.cstr(u.comment);
  if (u.is_menu()) {
    w.i32(u.shortcut);
    w.i32(u.level);
    w.i32(u.menu_flags);
    w.cstr(u.caption);
    w.i32(u.handler);
    w.zeros(4 + kMenuReserved);
    return;
  }
  w.zeros(4);
  w.i32(u.left);
  w.i32(u.top);
  w.i32(u.width);
  w.i32(u.height);
  w.zeros(4);
  w.i32(u.parent);
  w.u32(static_cast<uint32_t>(u.children.size()));
  for (int32_t c : u.children) w.i32(c);
  w.block(u.cursor);
  w.cstr(u.tag);
  w.zeros(4);
  w.i32(u.state);
  w.i32(u.tab);
  w.u32(static_cast<uint32_t>(u.bindings.size()));
  for (const Binding& b : u.bindings) {
    w.i32(b.event);
    w.i32(b.handler);
  }
  w.zeros(kControlReserved);
  w.bytes(u.settings);
}

bool read_window(ByteReader& r, WindowTemplate* w) {
  std::string_view ignored;
  uint32_t count = 0;
  std::string_view body;
  r.u32(&w->header[0]);
  r.u32(&w->header[1]);
  r.block(&ignored);
  r.block(&ignored);
  r.u32(&count);
  if (!r.block(&body)) return false;
  if (count > body.size() / 8) return false;
  ByteReader b(body);
  std::vector<int32_t> ids(count);
  std::vector<uint32_t> offsets(count);
  for (auto& id : ids) b.i32(&id);
  for (auto& off : offsets) b.u32(&off);
  if (!b.ok()) return false;
  std::string_view records = b.rest();
  w->units.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (offsets[i] > records.size()) return false;
    ByteReader rec(records.substr(offsets[i]));
    std::string_view bytes;
    if (!rec.block(&bytes)) return false;
    if (!read_unit(bytes, ids[i], &w->units[i])) return false;
  }
  return check_template(*w);
}

void write_window(ByteWriter& w, const WindowTemplate& t) {
  w.u32(t.header[0]);
  w.u32(t.header[1]);
  w.u32(0);
  w.u32(0);
  w.u32(static_cast<uint32_t>(t.units.size()));
  ByteWriter body;
  std::vector<std::string> records;
  records.reserve(t.units.size());
  for (const auto& u : t.units) {
    ByteWriter rec;
    write_unit(rec, u);
    records.push_back(rec.take());
  }
  for (const auto& u : t.units) body.i32(u.id);
  uint32_t offset = 0;
  for (const auto& rec : records) {
    body.u32(offset);
    offset += 4 + static_cast<uint32_t>(rec.size());
  }
  for (const auto& rec : records) body.block(rec);
  w.block(body.data());
}

}  // namespace

int WindowTemplate::index_of(int32_t unit_id) const {
  for (size_t i = 0; i < units.size(); ++i)
    if (units[i].id == unit_id) return static_cast<int>(i);
  return -1;
}

const UnitTemplate* WindowTemplate::find(int32_t unit_id) const {
  int i = index_of(unit_id);
  return i < 0 ? nullptr : &units[i];
}

UnitTemplate* WindowTemplate::find(int32_t unit_id) {
  int i = index_of(unit_id);
  return i < 0 ? nullptr : &units[i];
}

const WindowTemplate* TemplateSet::find(int32_t window_id) const {
  for (const auto& w : windows)
    if (w.id == window_id) return &w;
  return nullptr;
}

bool check_template(const WindowTemplate& w) {
  if (!is_window_id(w.id) || w.units.empty()) return false;
  const UnitTemplate& first = w.units[0];
  if (unit_type(first.id) != UnitType::Window || first.kind != kKindWindow || first.parent != 0) return false;
  std::unordered_map<int32_t, const UnitTemplate*> by_id;
  int menu_runs = 0;
  bool in_menu = false;
  for (size_t i = 0; i < w.units.size(); ++i) {
    const UnitTemplate& u = w.units[i];
    if (!by_id.emplace(u.id, &u).second) return false;
    UnitType t = unit_type(u.id);
    if (i > 0 && t != UnitType::Control && t != UnitType::MenuItem) return false;
    if ((t == UnitType::MenuItem) != (u.kind == kKindMenu)) return false;
    if (t == UnitType::Control && u.kind == kKindWindow) return false;
    if (t == UnitType::MenuItem) {
      if (u.level < 0 || u.level > kMaxMenuLevel) return false;
      if (!in_menu) ++menu_runs;
    }
    in_menu = t == UnitType::MenuItem;
  }
  if (menu_runs > 1) return false;  // menu items are consecutive
  auto is_control = [&](int32_t id) {
    auto it = by_id.find(id);
    return it != by_id.end() && unit_type(id) == UnitType::Control;
  };
  for (const auto& u : w.units) {
    if (u.is_menu()) continue;
    if (u.parent != 0 && (!is_control(u.parent) || u.parent == u.id)) return false;
    for (int32_t c : u.children)
      if (c != 0 && !is_control(c)) return false;
  }
  for (const auto& u : w.units) {
    if (u.is_menu()) continue;
    // A parent chain longer than the unit count loops.
    int32_t p = u.parent;
    for (size_t steps = 0; p != 0; ++steps) {
      if (steps > w.units.size()) return false;
      p = by_id.at(p)->parent;
    }
  }
  return true;
}

std::optional<TemplateSet> read_templates(std::string_view data) {
  ByteReader r(data);
  std::string_view table;
  if (!r.block(&table) || table.size() % 8 != 0) return std::nullopt;
  size_t n = table.size() / 8;
  ByteReader t(table);
  TemplateSet set;
  set.windows.resize(n);
  std::unordered_set<int32_t> seen;
  for (auto& w : set.windows) {
    t.i32(&w.id);
    if (!seen.insert(w.id).second) return std::nullopt;
  }
  for (auto& w : set.windows)
    if (!read_window(r, &w)) return std::nullopt;
  if (!r.at_end()) return std::nullopt;
  return set;
}

std::string write_templates(const TemplateSet& set) {
  ByteWriter w;
  ByteWriter table;
  for (const auto& win : set.windows) table.i32(win.id);
  for (size_t i = 0; i < set.windows.size(); ++i) table.u32(0);
  w.block(table.data());
  for (const auto& win : set.windows) write_window(w, win);
  return w.take();
}

}  // namespace pennacle
