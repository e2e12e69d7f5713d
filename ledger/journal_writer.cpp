#include "ledger/journal_writer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <utility>

#include "ledger/amount_text.h"
#include "platform/gbk.h"
#include "runtime/convert.h"

namespace pennacle {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kCurrency = "CNY";
constexpr std::string_view kCurrencyEnd = " CNY\n";  // what follows a posting's amount
// The tags hledger and ledger transactions carry, declared for ledger --pedantic.
constexpr const char* kTags[] = {"time", "channel", "serial", "category", "note"};

// A date-time as "YYYY-MM-DD" and "HH:MM:SS".
constexpr size_t kDateChars = 10, kTimeChars = 8;
struct Moment {
  char date[16];
  char time[16];
};
// Digits written by hand: snprintf twice a bill is a good part of a journal's time.
void put_digits(int value, int width, char* out) {
  for (int i = width - 1; i >= 0; --i, value /= 10) out[i] = static_cast<char>('0' + value % 10);
}

Moment moment_of(double t) {
  const DateTimeParts p = date_time_parts(t);  // year 100..9999, every part in range
  Moment m{"0000-00-00", "00:00:00"};
  put_digits(p.year, 4, m.date);
  put_digits(p.month, 2, m.date + 5);
  put_digits(p.day, 2, m.date + 8);
  put_digits(p.hour, 2, m.time);
  put_digits(p.minute, 2, m.time + 3);
  put_digits(p.second, 2, m.time + 6);
  return m;
}

// Appends a value (UTF-8) on one line: backslashes doubled, each line break "\n" (CR LF is one), and with
// `quotes` a quote as \" (beancount's strings).
void escape(std::string_view s, bool quotes, std::string* out) {
  size_t plain = 0;  // where the text not appended yet begins
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c != '\\' && c != '\r' && c != '\n' && !(c == '"' && quotes)) continue;
    out->append(s.data() + plain, i - plain);
    if (c == '\\') {
      out->append("\\\\");
    } else if (c == '"') {
      out->append("\\\"");
    } else {
      out->append("\\n");
      if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
    }
    plain = i + 1;
  }
  out->append(s.data() + plain, s.size() - plain);
}

void append_quoted(std::string_view s, std::string* out) {
  *out += '"';
  escape(s, true, out);
  *out += '"';
}

std::string quoted(std::string_view s) {
  std::string out;
  append_quoted(s, &out);
  return out;
}

// Text for a hledger or ledger description: ";" would start a comment and "|" split it.
std::string description_text(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == ';') {
      out += "\xEF\xBC\x9B";  // ；
    } else if (c == '|') {
      out += "\xEF\xBD\x9C";  // ｜
    } else {
      out += (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
    }
  }
  if (!out.empty() && out[0] == '(') out.replace(0, 1, "\xEF\xBC\x88");  // （: "(" would open a code
  return out;
}

// GBK to UTF-8 a character at a time, each character converted once by the host and kept: a
// journal converts every remark, and the host's converter costs as much per call as a bill's walk.
// Text the cache cannot vouch for (a byte that begins no character) goes to the host whole, which
// marks what it cannot read.
class Utf8Text {
 public:
  std::string operator()(std::string_view gbk) {
    std::string out;
    if (!append(gbk, Escape::None, &out)) return gbk_to_utf8_lossy(gbk);
    return out;
  }

  // Appends `gbk` as UTF-8 escaped as escape() does. Escaping goes by character: a GBK trail byte
  // may be a backslash's or a quote's.
  void append_escaped(std::string_view gbk, bool quotes, std::string* out) {
    const size_t start = out->size();
    if (append(gbk, quotes ? Escape::WithQuotes : Escape::Plain, out)) return;
    out->resize(start);
    escape(gbk_to_utf8_lossy(gbk), quotes, out);
  }

 private:
  enum class Escape { None, Plain, WithQuotes };

  // Appends every one-byte character (escaped as asked) and every other character from the table;
  // false, with `out` holding some bytes more, when a byte begins no GBK character.
  bool append(std::string_view gbk, Escape escaping, std::string* out) {
    const size_t start = out->size();
    // A byte takes 2 at most (escaped), a two-byte character 3.
    out->resize(start + 2 * gbk.size());
    char* o = out->data() + start;
    for (size_t i = 0; i < gbk.size(); ++i) {
      const auto c = static_cast<unsigned char>(gbk[i]);
      if (c < 0x80) {
        o = put_ascii(gbk, i, escaping, o);
        continue;
      }
      if (!is_gbk_lead_byte(gbk[i]) || i + 1 >= gbk.size()) return false;
      const Character& ch = character(c, static_cast<unsigned char>(gbk[i + 1]));
      if (ch.size == kNoCharacter) return false;
      std::memcpy(o, ch.bytes, ch.size);
      o += ch.size;
      ++i;
    }
    out->resize(static_cast<size_t>(o - out->data()));
    return true;
  }

  // Writes the one-byte character at gbk[i] (a CR LF as one line break: i moves past the LF).
  static char* put_ascii(std::string_view gbk, size_t& i, Escape escaping, char* o) {
    const char c = gbk[i];
    if (escaping == Escape::None) {
      *o++ = c;
    } else if (c == '\\' || (c == '"' && escaping == Escape::WithQuotes)) {
      *o++ = '\\';
      *o++ = c;
    } else if (c == '\r' || c == '\n') {
      *o++ = '\\';
      *o++ = 'n';
      if (c == '\r' && i + 1 < gbk.size() && gbk[i + 1] == '\n') ++i;
    } else {
      *o++ = c;
    }
    return o;
  }

  static constexpr uint8_t kUnknown = 0;
  static constexpr uint8_t kNoCharacter = 0xFF;
  struct Character {
    char bytes[3];
    uint8_t size = kUnknown;  // 1 to 3, or kUnknown, or kNoCharacter when the pair is no GBK character
  };

  const Character& character(unsigned char lead, unsigned char trail) {
    Character& c = table_[static_cast<size_t>(lead) << 8 | trail];
    if (c.size == kUnknown) {
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const std::optional<std::string> u = gbk_to_utf8(std::string_view(pair, 2));
      c.size =
          u && !u->empty() && u->size() <= sizeof c.bytes ? static_cast<uint8_t>(u->size()) : kNoCharacter;
      if (c.size != kNoCharacter) std::copy(u->begin(), u->end(), c.bytes);
    }
    return c;
  }

  std::vector<Character> table_ = std::vector<Character>(1 << 16);
};

// What every bill of one channel or one category shares, worked out once: its UTF-8 text, as a
// value of metadata or a tag (escaped; quoted for beancount), and its account in the journal's
// form, with the name that account stands for.
struct Named {
  std::string text;     // UTF-8
  std::string value;    // the text as metadata or tag
  std::string account;  // in the journal's form
  std::string plain;    // in hledger's form, which beancount's renames
  std::string posting;  // a posting's line up to its amount: indented, the account, two spaces
};

constexpr uint32_t kNotNamed = UINT32_MAX;

// The names a journal's bills use, by the indexes of their rows.
struct NameTable {
  std::vector<Named> named;
  std::vector<uint32_t> channels, expenses, incomes;  // an index into named, or kNotNamed

  uint32_t& channel_slot(const JournalRows::Row& r) { return channels[r.channel]; }
  uint32_t& category_slot(const JournalRows::Row& r) { return (r.expense ? expenses : incomes)[r.category]; }
  const Named& channel(const JournalRows::Row& r) const { return named[channels[r.channel]]; }
  const Named& category(const JournalRows::Row& r) const {
    return named[(r.expense ? expenses : incomes)[r.category]];
  }
};

// Names each channel, and each category on each side, the first time a bill uses it.
class Namer {
 public:
  Namer(const JournalRows& rows, JournalFormat format, const AccountMap& accounts, NameTable* table)
      : rows_(rows), format_(format), accounts_(accounts), table_(*table) {
    table_.channels.assign(rows.channels().size(), kNotNamed);
    table_.expenses.assign(rows.categories().size(), kNotNamed);
    table_.incomes.assign(rows.categories().size(), kNotNamed);
  }

  Status name(const JournalRows::Row& r) {
    if (Status s = find(table_.channel_slot(r), rows_.channels()[r.channel], 'c'); !s.ok()) return s;
    return find(table_.category_slot(r), rows_.categories()[r.category], r.expense ? 'e' : 'i');
  }

 private:
  Status find(uint32_t& slot, const std::string& gbk, char kind) {
    if (slot != kNotNamed) return Status();
    Named n{gbk_to_utf8_lossy(gbk), "", "",
            kind == 'c' ? channel_account(accounts_, gbk) : category_account(accounts_, gbk, kind == 'e'),
            ""};
    n.account = n.plain;
    if (format_ == JournalFormat::Beancount) {
      Result<std::string> b = beancount_account(n.plain);
      if (!b.ok()) return b.status();
      n.account = std::move(*b);
      append_quoted(n.text, &n.value);
    } else {
      escape(n.text, false, &n.value);
    }
    n.posting = (format_ == JournalFormat::Beancount ? "  " : "    ") + n.account + "  ";
    table_.named.push_back(std::move(n));
    slot = static_cast<uint32_t>(table_.named.size() - 1);
    return Status();
  }

  const JournalRows& rows_;
  JournalFormat format_;
  const AccountMap& accounts_;
  NameTable& table_;
};

// A bill's place in the journal: its time, then its serial, as integers that keep their order.
struct SortKey {
  uint64_t time;
  uint32_t serial;
  uint32_t row;
};

}  // namespace

struct JournalWriter::Plan {
  const JournalRows* rows = nullptr;
  JournalFormat format = JournalFormat::Beancount;
  NameTable names;
  std::vector<SortKey> order;  // the bills written, by time, then serial
  std::vector<int32_t> left_out;
};

namespace {

uint64_t time_order(double t) {
  const auto bits = std::bit_cast<uint64_t>(t == 0 ? 0.0 : t);  // -0 is 0
  return bits >> 63 ? ~bits : bits | (uint64_t{1} << 63);
}

// Sorts `keys` (given in row order) by time, then serial, equals in row order: a stable radix
// sort, a pass per byte of the serial (unless the rows are in serial order already) and then per
// byte of the time, leaving out a byte all keys share.
void sort_keys(std::vector<SortKey>* keys, bool by_serial) {
  std::vector<SortKey> moved(keys->size());
  auto pass = [&](auto byte_of) {
    size_t start[256] = {};
    for (const SortKey& k : *keys) ++start[byte_of(k)];
    if (std::find(std::begin(start), std::end(start), keys->size()) != std::end(start)) return;
    for (size_t b = 0, sum = 0; b < 256; ++b) sum += std::exchange(start[b], sum);
    for (const SortKey& k : *keys) moved[start[byte_of(k)]++] = k;
    keys->swap(moved);
  };
  for (int shift = 0; by_serial && shift < 32; shift += 8) {
    pass([shift](const SortKey& k) { return k.serial >> shift & 0xFF; });
  }
  for (int shift = 0; shift < 64; shift += 8) {
    pass([shift](const SortKey& k) { return static_cast<uint32_t>(k.time >> shift & 0xFF); });
  }
}

// The plan's order and left-out bills; a name a mapping makes impossible is the failure.
Status plan_order(const JournalRows& rows, Namer* namer, JournalWriter::Plan* plan) {
  const std::vector<JournalRows::Row>& all = rows.rows();
  std::vector<SortKey>& keys = plan->order;
  keys.reserve(all.size());
  bool by_serial = false;  // the rows are out of serial order
  for (size_t i = 0; i < all.size(); ++i) {
    const JournalRows::Row& r = all[i];
    if (!std::isfinite(r.amount)) {
      plan->left_out.push_back(r.serial);
      continue;
    }
    if (Status s = namer->name(r); !s.ok()) return s;
    keys.push_back(
        {time_order(r.time), static_cast<uint32_t>(r.serial) ^ 0x80000000u, static_cast<uint32_t>(i)});
    by_serial = by_serial || (keys.size() > 1 && keys[keys.size() - 2].serial > keys.back().serial);
  }
  // Bills are nearly always stored in time order already.
  auto earlier = [](const SortKey& x, const SortKey& y) {
    return x.time != y.time ? x.time < y.time : x.serial < y.serial;
  };
  if (!std::is_sorted(keys.begin(), keys.end(), earlier)) sort_keys(&keys, by_serial);
  return Status();
}

// Each account with the date of its first use (the bills are in time order) and the name it
// stands for.
struct Opened {
  std::string date, name;
};
std::map<std::string, Opened> accounts_used(const JournalWriter::Plan& plan) {
  std::map<std::string, Opened> used;
  std::vector<bool> seen(plan.names.named.size());
  for (const SortKey& k : plan.order) {
    const JournalRows::Row& r = plan.rows->rows()[k.row];
    for (const Named* n : {&plan.names.channel(r), &plan.names.category(r)}) {
      const auto index = static_cast<size_t>(n - plan.names.named.data());
      if (seen[index]) continue;
      seen[index] = true;
      used.try_emplace(n->account, Opened{moment_of(r.time).date, n->plain});
    }
  }
  return used;
}

// Appends a serial's digits.
void append_number(int32_t n, std::string* s) {
  char digits[16];
  const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, n);
  s->append(digits, r.ptr);
}

// The two postings: the category's account takes an expense, the channel's an income. `amount` is
// room for the amount's text.
void append_postings(const JournalRows::Row& r, const Named& channel, const Named& category,
                     std::string* amount, std::string* s) {
  amount->clear();
  append_exact_amount(r.amount, amount);
  const bool negative = (*amount)[0] == '-';
  s->append(r.expense ? category.posting : channel.posting);
  s->append(*amount);
  s->append(kCurrencyEnd);
  s->append(r.expense ? channel.posting : category.posting);
  if (negative) {
    s->append(*amount, 1);
  } else {
    if (*amount != "0.00") *s += '-';
    s->append(*amount);
  }
  s->append(kCurrencyEnd);
  *s += '\n';
}

// What writing entries reuses from one to the next.
struct Scratch {
  Utf8Text utf8;
  std::string amount;
};

// What an entry's text is made of.
struct EntryParts {
  const JournalRows::Row& row;
  const Named& channel;
  const Named& category;
  std::string_view remark, counterpart, goods;  // GBK
};

void append_beancount_entry(const EntryParts& e, Scratch& w, std::string* s) {
  const Moment at = moment_of(e.row.time);
  s->append(at.date, kDateChars).append(" * "sv);
  if (!e.counterpart.empty()) {
    append_quoted(w.utf8(e.counterpart), s);
    *s += ' ';
  }
  append_quoted(e.goods.empty() ? std::string() : w.utf8(e.goods), s);
  s->append("\n  time: \""sv).append(at.time, kTimeChars);
  s->append("\"\n  channel: "sv).append(e.channel.value);
  s->append("\n  serial: \""sv);
  append_number(e.row.serial, s);
  s->append("\"\n  category: "sv).append(e.category.value);
  if (!e.remark.empty()) {
    s->append("\n  remark: \""sv);
    w.utf8.append_escaped(e.remark, true, s);
    *s += '"';
  }
  *s += '\n';
  append_postings(e.row, e.channel, e.category, &w.amount, s);
}

void append_plain_entry(const EntryParts& e, Scratch& w, std::string* s) {
  const Moment at = moment_of(e.row.time);
  s->append(at.date, kDateChars).append(" *"sv);
  if (!e.counterpart.empty() || !e.goods.empty()) {
    std::string description = e.counterpart.empty() ? "" : description_text(w.utf8(e.counterpart));
    const std::string goods = e.goods.empty() ? "" : description_text(w.utf8(e.goods));
    if (!goods.empty()) description += description.empty() ? goods : " | " + goods;
    if (!description.empty()) *s += ' ' + description;
  }
  s->append("\n    ; time: "sv).append(at.time, kTimeChars);
  s->append("\n    ; channel: "sv).append(e.channel.value);
  s->append("\n    ; serial: "sv);
  append_number(e.row.serial, s);
  s->append("\n    ; category: "sv).append(e.category.value);
  if (!e.remark.empty()) {
    s->append("\n    ; note: "sv);
    w.utf8.append_escaped(e.remark, false, s);
  }
  *s += '\n';
  append_postings(e.row, e.channel, e.category, &w.amount, s);
}

std::string beancount_head(const JournalWriter::Plan& plan) {
  std::string s = "option \"operating_currency\" \"" + std::string(kCurrency) + "\"\n\n";
  for (const auto& [account, opened] : accounts_used(plan)) {
    s += opened.date + " open " + account + " " + std::string(kCurrency) + "\n";
    if (opened.name != account) s += "  name: " + quoted(opened.name) + "\n";
  }
  return s + "\n";
}

std::string plain_head(const JournalWriter::Plan& plan) {
  // No display format: a balance shows every decimal its amounts have.
  std::string s = "commodity " + std::string(kCurrency) + "\n\n";
  for (const auto& entry : accounts_used(plan)) s += "account " + entry.first + "\n";
  if (plan.format == JournalFormat::Ledger) {
    s += "\n";
    for (const char* tag : kTags) s += std::string("tag ") + tag + "\n";
  }
  return s + "\n";
}

// The text given to the writer's reader at a time.
constexpr size_t kPieceBytes = 64 * 1024;
// Bills ahead of the one being written whose row is fetched early.
constexpr size_t kAhead = 8;

}  // namespace

JournalWriter::JournalWriter() : plan_(std::make_unique<Plan>()) {}
JournalWriter::JournalWriter(std::unique_ptr<Plan> plan) : plan_(std::move(plan)) {}
JournalWriter::JournalWriter(JournalWriter&&) noexcept = default;
JournalWriter& JournalWriter::operator=(JournalWriter&&) noexcept = default;
JournalWriter::~JournalWriter() = default;

Result<JournalWriter> JournalWriter::make(const JournalRows& rows, JournalFormat format,
                                          const AccountMap& accounts) {
  auto plan = std::make_unique<Plan>();
  plan->rows = &rows;
  plan->format = format;
  Namer namer(rows, format, accounts, &plan->names);
  if (Status s = plan_order(rows, &namer, plan.get()); !s.ok()) return s;
  return JournalWriter(std::move(plan));
}

const std::vector<int32_t>& JournalWriter::left_out() const { return plan_->left_out; }

void JournalWriter::write(const std::function<void(std::string_view)>& out) const {
  const Plan& p = *plan_;
  const bool bean = p.format == JournalFormat::Beancount;
  std::string s = bean ? beancount_head(p) : plain_head(p);
  s.reserve(std::max(s.size(), kPieceBytes) + kPieceBytes);
  Scratch w;
  const JournalRows::Row* rows = p.rows ? p.rows->rows().data() : nullptr;  // none when order is empty
  for (size_t i = 0; i < p.order.size(); ++i) {
    // The row, and then its texts, some bills ahead: the rows of bills stored out of time order
    // are apart in memory.
    if (i + kAhead < p.order.size()) __builtin_prefetch(&rows[p.order[i + kAhead].row]);
    if (i + kAhead / 2 < p.order.size())
      __builtin_prefetch(p.rows->remark(rows[p.order[i + kAhead / 2].row]).data());
    const JournalRows::Row& r = rows[p.order[i].row];
    const EntryParts parts{r,
                           p.names.channel(r),
                           p.names.category(r),
                           p.rows->remark(r),
                           p.rows->counterpart(r),
                           p.rows->goods(r)};
    if (bean) {
      append_beancount_entry(parts, w, &s);
    } else {
      append_plain_entry(parts, w, &s);
    }
    if (s.size() >= kPieceBytes) {
      out(s);
      s.clear();
    }
  }
  if (!s.empty()) out(s);
}

Result<Journal> write_journal(const std::vector<JournalBill>& bills, JournalFormat format,
                              const AccountMap& accounts) {
  const JournalRows rows = journal_rows(bills);
  Result<JournalWriter> writer = JournalWriter::make(rows, format, accounts);
  if (!writer.ok()) return writer.status();
  Journal j;
  j.left_out = writer->left_out();
  writer->write([&j](std::string_view piece) { j.text += piece; });
  return j;
}

}  // namespace pennacle
