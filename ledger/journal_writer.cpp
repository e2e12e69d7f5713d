#include "ledger/journal_writer.h"

#include <algorithm>
#include <array>
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
#include "ledger/moment_text.h"
#include "platform/gbk.h"

namespace pennacle {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kCurrency = "CNY";
constexpr std::string_view kCurrencyEnd = " CNY\n";  // what follows a posting's amount
// The tags hledger and ledger transactions carry, declared for ledger --pedantic.
constexpr const char* kTags[] = {"time", "channel", "serial", "category", "note"};

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

  // Writes `gbk` at `o` as UTF-8 escaped as escape() does, and returns the end; `o` has room for 3
  // bytes a byte of `gbk`. Escaping goes by character: a GBK trail byte may be a backslash's or a
  // quote's.
  char* put_escaped(std::string_view gbk, bool quotes, char* o) {
    if (char* end = put(gbk, quotes ? Escape::WithQuotes : Escape::Plain, o)) return end;
    std::string lossy;
    escape(gbk_to_utf8_lossy(gbk), quotes, &lossy);
    std::memcpy(o, lossy.data(), lossy.size());
    return o + lossy.size();
  }

 private:
  enum class Escape { None, Plain, WithQuotes };

  // Appends every one-byte character (escaped as asked) and every other character from the table;
  // false, with `out` holding some bytes more, when a byte begins no GBK character.
  bool append(std::string_view gbk, Escape escaping, std::string* out) {
    const size_t start = out->size();
    out->resize(start + 2 * gbk.size());
    char* end = put(gbk, escaping, out->data() + start);
    if (end) out->resize(static_cast<size_t>(end - out->data()));
    return end != nullptr;
  }

  // Writes them at `o`, which has room for 2 bytes a byte of `gbk` (an escaped byte takes 2, a
  // two-byte character 3); the end, or nullptr when a byte begins no GBK character.
  char* put(std::string_view gbk, Escape escaping, char* o) {
    for (size_t i = 0; i < gbk.size(); ++i) {
      const auto c = static_cast<unsigned char>(gbk[i]);
      if (c < 0x80) {
        o = put_ascii(gbk, i, escaping, o);
        continue;
      }
      if (!is_gbk_lead_byte(gbk[i]) || i + 1 >= gbk.size()) return nullptr;
      const Character& ch = character(c, static_cast<unsigned char>(gbk[i + 1]));
      if (ch.size == kNoCharacter) return nullptr;
      std::memcpy(o, ch.bytes, sizeof ch.bytes);  // within the room of the two bytes it reads
      o += ch.size;
      ++i;
    }
    return o;
  }

  // Writes the one-byte character at gbk[i] (a CR LF as one line break: i moves past the LF).
  static char* put_ascii(std::string_view gbk, size_t& i, Escape escaping, char* o) {
    const char c = gbk[i];
    // Most bytes need no escape: letters, digits and spaces are above '"'.
    if (escaping == Escape::None || (c > '"' && c != '\\')) {
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

// What every bill of one channel or one category shares, worked out once: its UTF-8 text, its
// line of metadata or tag (the value escaped; quoted for beancount), and its account in the
// journal's form, with the name that account stands for.
struct Named {
  std::string text;     // UTF-8
  std::string line;     // "\n  channel: VALUE" or "\n    ; category: VALUE", its line break first
  std::string account;  // in the journal's form
  std::string plain;    // in hledger's form, which beancount's renames
  std::string posting;  // a posting's line up to its amount: indented, the account, two spaces
  // The first bill in the journal's order that uses it: its time, and that time's sort key.
  double first_time = 0;
  uint64_t first_key = UINT64_MAX;
};

constexpr uint32_t kNotNamed = UINT32_MAX;

// The names a journal's bills use, by the indexes of their rows.
struct NameTable {
  std::vector<Named> named;
  std::vector<uint32_t> channels, expenses, incomes;  // an index into named, or kNotNamed
  std::vector<std::string> notes;                     // method accounts set aside (UTF-8)

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

  // Names the row's channel and category; `key` is the row's time as it sorts.
  Status name(const JournalRows::Row& r, uint64_t key) {
    uint32_t& channel = table_.channel_slot(r);
    uint32_t& category = table_.category_slot(r);
    if (channel == kNotNamed) {
      if (Status s = find(channel, rows_.channels()[r.channel], 'c', r); !s.ok()) return s;
    }
    if (category == kNotNamed) {
      if (Status s = find(category, rows_.categories()[r.category], r.expense ? 'e' : 'i', r); !s.ok())
        return s;
    }
    first_use(table_.named[channel], r, key);
    first_use(table_.named[category], r, key);
    return Status();
  }

 private:
  static void first_use(Named& n, const JournalRows::Row& r, uint64_t key) {
    if (key < n.first_key) {
      n.first_key = key;
      n.first_time = r.time;
    }
  }

  // Names an unnamed slot.
  Status find(uint32_t& slot, const std::string& gbk, char kind, const JournalRows::Row& r) {
    const std::string& method = kind == 'c' ? rows_.channel_accounts()[r.channel] : std::string();
    Named n{gbk_to_utf8_lossy(gbk), "", "",
            kind == 'c' ? channel_account(accounts_, gbk) : category_account(accounts_, gbk, kind == 'e'),
            ""};
    n.account = n.plain = method.empty() ? n.plain : method_account(gbk_to_utf8_lossy(method), n.plain, r);
    const bool bean = format_ == JournalFormat::Beancount;
    n.line = std::string(bean ? "\n  " : "\n    ; ") + (kind == 'c' ? "channel: " : "category: ");
    if (bean) {
      Result<std::string> b = beancount_account(n.plain);
      if (!b.ok()) return b.status();
      n.account = std::move(*b);
      append_quoted(n.text, &n.line);
    } else {
      escape(n.text, false, &n.line);
    }
    n.posting = (bean ? "  " : "    ") + n.account + "  ";
    table_.named.push_back(std::move(n));
    slot = static_cast<uint32_t>(table_.named.size() - 1);
    return Status();
  }

  // A rule's method account, kept for the bill `r`: beancount's journal takes one only under one of
  // its roots. Any other is set aside for the channel's account `fallback`, with a note.
  std::string method_account(std::string account, const std::string& fallback, const JournalRows::Row& r) {
    if (format_ != JournalFormat::Beancount) return account;
    Result<std::string> b = beancount_account(account);
    if (b.ok()) return account;
    std::string note = "the method account '" + account + "' kept for bill " + std::to_string(r.serial) +
                       " (from a rule's methodAccount) is no beancount account: " + b.status().message() +
                       "; its bills post to their channel's account, " + fallback + ", instead";
    if (std::find(table_.notes.begin(), table_.notes.end(), note) == table_.notes.end())
      table_.notes.push_back(std::move(note));
    return fallback;
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
// byte of the time, leaving out a byte all keys share. One reading counts every byte's values.
void sort_keys(std::vector<SortKey>* keys, bool by_serial) {
  constexpr int kBytes = 12;  // the serial's 4, then the time's 8
  auto byte_of = [](const SortKey& k, int b) {
    return static_cast<size_t>((b < 4 ? uint64_t{k.serial} >> (8 * b) : k.time >> (8 * (b - 4))) & 0xFF);
  };
  std::vector<std::array<size_t, 256>> start(kBytes);
  for (const SortKey& k : *keys) {
    for (int b = by_serial ? 0 : 4; b < kBytes; ++b) ++start[b][byte_of(k, b)];
  }
  std::vector<SortKey> moved(keys->size());
  for (int b = by_serial ? 0 : 4; b < kBytes; ++b) {
    std::array<size_t, 256>& at = start[b];
    if (std::find(at.begin(), at.end(), keys->size()) != at.end()) continue;
    for (size_t v = 0, sum = 0; v < 256; ++v) sum += std::exchange(at[v], sum);
    for (const SortKey& k : *keys) moved[at[byte_of(k, b)]++] = k;
    keys->swap(moved);
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
    const uint64_t time = time_order(r.time);
    if (Status s = namer->name(r, time); !s.ok()) return s;
    keys.push_back({time, static_cast<uint32_t>(r.serial) ^ 0x80000000u, static_cast<uint32_t>(i)});
    by_serial = by_serial || (keys.size() > 1 && keys[keys.size() - 2].serial > keys.back().serial);
  }
  // Bills are nearly always stored in time order already.
  auto earlier = [](const SortKey& x, const SortKey& y) {
    return x.time != y.time ? x.time < y.time : x.serial < y.serial;
  };
  if (!std::is_sorted(keys.begin(), keys.end(), earlier)) sort_keys(&keys, by_serial);
  return Status();
}

// Each account with the date of its first use and the name it stands for. Two names of one account
// stand for the same name (beancount's renaming keeps names apart).
struct Opened {
  std::string date, name;
};
std::map<std::string, Opened> accounts_used(const JournalWriter::Plan& plan) {
  std::map<std::string, const Named*> first;
  for (const Named& n : plan.names.named) {
    auto [it, added] = first.try_emplace(n.account, &n);
    if (!added && n.first_key < it->second->first_key) it->second = &n;
  }
  std::map<std::string, Opened> used;
  for (const auto& [account, n] : first)
    used.emplace(account, Opened{moment_of(n->first_time).date, n->plain});
  return used;
}

// What an entry's text is made of.
struct EntryParts {
  const JournalRows::Row& row;
  const Named& channel;
  const Named& category;
  std::string_view remark;  // GBK
  std::string_view amount;  // exact_amount_text
  std::string_view head;    // what follows "*": payee and narration, or the description (UTF-8)
  const Moment& at;         // the row's time
};

// The most bytes an entry takes: its texts, and the rest of either form within kEntryBytes.
constexpr size_t kEntryBytes = 256;
size_t entry_bytes(const EntryParts& e) {
  return kEntryBytes + e.channel.line.size() + e.category.line.size() + e.channel.posting.size() +
         e.category.posting.size() + 2 * e.amount.size() + e.head.size() + 3 * e.remark.size();
}

char* put(char* o, std::string_view s) {
  std::memcpy(o, s.data(), s.size());
  return o + s.size();
}

// The two postings: the category's account takes an expense, the channel's an income.
char* put_postings(const EntryParts& e, char* o) {
  o = put(o, e.row.expense ? e.category.posting : e.channel.posting);
  o = put(put(o, e.amount), kCurrencyEnd);
  o = put(o, e.row.expense ? e.channel.posting : e.category.posting);
  if (e.amount[0] == '-') {
    o = put(o, e.amount.substr(1));
  } else {
    if (e.amount != "0.00") *o++ = '-';
    o = put(o, e.amount);
  }
  o = put(o, kCurrencyEnd);
  *o++ = '\n';
  return o;
}

char* put_serial(int32_t serial, char* o) { return std::to_chars(o, o + 11, serial).ptr; }

// One transaction; `o` has entry_bytes(e) of room.
char* put_beancount_entry(const EntryParts& e, Utf8Text& utf8, char* o) {
  o = put(put(put(o, {e.at.date, kDateChars}), " * "sv), e.head);
  o = put(put(o, "\n  time: \""sv), {e.at.time, kTimeChars});
  o = put(put(o, "\""sv), e.channel.line);
  o = put_serial(e.row.serial, put(o, "\n  serial: \""sv));
  o = put(put(o, "\""sv), e.category.line);
  if (!e.remark.empty()) {
    o = utf8.put_escaped(e.remark, true, put(o, "\n  remark: \""sv));
    *o++ = '"';
  }
  *o++ = '\n';
  return put_postings(e, o);
}

char* put_plain_entry(const EntryParts& e, Utf8Text& utf8, char* o) {
  o = put(put(put(o, {e.at.date, kDateChars}), " *"sv), e.head);
  o = put(put(o, "\n    ; time: "sv), {e.at.time, kTimeChars});
  o = put(o, e.channel.line);
  o = put_serial(e.row.serial, put(o, "\n    ; serial: "sv));
  o = put(o, e.category.line);
  if (!e.remark.empty()) o = utf8.put_escaped(e.remark, false, put(o, "\n    ; note: "sv));
  *o++ = '\n';
  return put_postings(e, o);
}

// What follows a transaction's "*" when the counterpart or goods are known: beancount's payee and
// narration (quoted), the description of hledger and ledger (" counterpart | goods").
std::string head_of(std::string_view counterpart, std::string_view goods, bool bean, Utf8Text& utf8) {
  if (bean) {
    std::string head = counterpart.empty() ? "" : quoted(utf8(counterpart)) + " ";
    append_quoted(goods.empty() ? std::string() : utf8(goods), &head);
    return head;
  }
  std::string description = counterpart.empty() ? "" : description_text(utf8(counterpart));
  const std::string goods_text = goods.empty() ? "" : description_text(utf8(goods));
  if (!goods_text.empty()) description += description.empty() ? goods_text : " | " + goods_text;
  return description.empty() ? "" : " " + description;
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
constexpr size_t kAhead = 32;

// The journal's text as it is made, given to the reader a piece at a time.
class Pieces {
 public:
  explicit Pieces(const std::function<void(std::string_view)>& out) : out_(out) {}

  // Where `n` bytes more may be written.
  char* room(size_t n) {
    if (buffer_.size() < used_ + n) buffer_.resize(std::max(used_ + n, 2 * kPieceBytes));
    return buffer_.data() + used_;
  }
  // The bytes up to `end` are written; the reader gets them once they make a piece.
  void wrote(const char* end) {
    used_ = static_cast<size_t>(end - buffer_.data());
    if (used_ >= kPieceBytes) flush();
  }
  void append(std::string_view s) { wrote(put(room(s.size()), s)); }
  void flush() {
    if (used_ > 0) out_(std::string_view(buffer_.data(), used_));
    used_ = 0;
  }

 private:
  const std::function<void(std::string_view)>& out_;
  std::vector<char> buffer_;
  size_t used_ = 0;
};

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
const std::vector<std::string>& JournalWriter::notes() const { return plan_->names.notes; }

void JournalWriter::write(const std::function<void(std::string_view)>& out) const {
  const Plan& p = *plan_;
  const bool bean = p.format == JournalFormat::Beancount;
  Pieces pieces(out);
  pieces.append(bean ? beancount_head(p) : plain_head(p));
  Utf8Text utf8;
  Moments moments;
  std::string amount, head;
  const JournalRows::Row* rows = p.rows ? p.rows->rows().data() : nullptr;  // none when order is empty
  for (size_t i = 0; i < p.order.size(); ++i) {
    // The row, and then its texts, some bills ahead: the rows of bills stored out of time order
    // are apart in memory.
    if (i + kAhead < p.order.size()) __builtin_prefetch(&rows[p.order[i + kAhead].row]);
    if (i + kAhead / 2 < p.order.size())
      __builtin_prefetch(p.rows->remark(rows[p.order[i + kAhead / 2].row]).data());
    const JournalRows::Row& r = rows[p.order[i].row];
    amount.clear();
    append_exact_amount(r.amount, &amount);
    const std::string_view counterpart = p.rows->counterpart(r), goods = p.rows->goods(r);
    const bool described = !counterpart.empty() || !goods.empty();
    if (described) head = head_of(counterpart, goods, bean, utf8);
    const EntryParts e{r,
                       p.names.channel(r),
                       p.names.category(r),
                       p.rows->remark(r),
                       amount,
                       described ? std::string_view(head)
                       : bean    ? "\"\""sv
                                 : ""sv,
                       moments(r.time)};
    char* o = pieces.room(entry_bytes(e));
    pieces.wrote(bean ? put_beancount_entry(e, utf8, o) : put_plain_entry(e, utf8, o));
  }
  pieces.flush();
}

Result<Journal> write_journal(const std::vector<JournalBill>& bills, JournalFormat format,
                              const AccountMap& accounts) {
  const JournalRows rows = journal_rows(bills);
  Result<JournalWriter> writer = JournalWriter::make(rows, format, accounts);
  if (!writer.ok()) return writer.status();
  Journal j;
  j.left_out = writer->left_out();
  j.notes = writer->notes();
  writer->write([&j](std::string_view piece) { j.text += piece; });
  return j;
}

}  // namespace pennacle
