#include "ledger/journal_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "ledger/amount_text.h"
#include "platform/gbk.h"
#include "runtime/convert.h"

namespace pennacle {
namespace {

constexpr const char* kCurrency = "CNY";
// The tags hledger and ledger transactions carry, declared for ledger --pedantic.
constexpr const char* kTags[] = {"time", "channel", "serial", "category", "note"};

// A date-time as "YYYY-MM-DD" and "HH:MM:SS".
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
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\\') {
      *out += "\\\\";
    } else if (c == '"' && quotes) {
      *out += "\\\"";
    } else if (c == '\r' || c == '\n') {
      *out += "\\n";
      if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else {
      *out += c;
    }
  }
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
    if (!append(gbk, &out, [](std::string_view ascii, std::string* o) { o->append(ascii); }))
      return gbk_to_utf8_lossy(gbk);
    return out;
  }

  // Appends `gbk` as UTF-8 escaped as append_escaped does. Escaping goes by character: a GBK
  // trail byte may be a backslash's or a quote's.
  void append_escaped(std::string_view gbk, bool quotes, std::string* out) {
    const size_t start = out->size();
    if (append(gbk, out, [quotes](std::string_view ascii, std::string* o) { escape(ascii, quotes, o); }))
      return;
    out->resize(start);
    escape(gbk_to_utf8_lossy(gbk), quotes, out);
  }

 private:
  // Appends each run of one-byte characters through `ascii` and every other character from the
  // table; false when a byte begins no GBK character.
  template <typename Ascii>
  bool append(std::string_view gbk, std::string* out, Ascii ascii) {
    for (size_t i = 0; i < gbk.size();) {
      size_t run = i;
      while (run < gbk.size() && static_cast<unsigned char>(gbk[run]) < 0x80) ++run;
      if (run > i) ascii(gbk.substr(i, run - i), out);
      if ((i = run) >= gbk.size()) break;
      if (!is_gbk_lead_byte(gbk[i]) || i + 1 >= gbk.size()) return false;
      const Character& c =
          character(static_cast<unsigned char>(gbk[i]), static_cast<unsigned char>(gbk[i + 1]));
      if (c.size == kNoCharacter) return false;
      out->append(c.bytes, c.size);
      i += 2;
    }
    return true;
  }

 private:
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

// What every bill of one channel or one category shares, worked out once: its UTF-8 text and its
// account in the journal's form, with the name that account stands for.
struct Named {
  std::string text;     // UTF-8
  std::string account;  // in the journal's form
  std::string plain;    // in hledger's form, which beancount's renames
};

class Names {
 public:
  Names(JournalFormat format, const AccountMap& accounts) : format_(format), accounts_(accounts) {}

  Result<const Named*> channel(const std::string& gbk) { return find(gbk, 'c'); }
  Result<const Named*> category(const std::string& gbk, bool expense) {
    return find(gbk, expense ? 'e' : 'i');
  }

 private:
  Result<const Named*> find(const std::string& gbk, char kind) {
    std::string key = kind + gbk;
    if (auto it = names_.find(key); it != names_.end()) return &it->second;
    Named n{gbk_to_utf8_lossy(gbk), "",
            kind == 'c' ? channel_account(accounts_, gbk) : category_account(accounts_, gbk, kind == 'e')};
    n.account = n.plain;
    if (format_ == JournalFormat::Beancount) {
      Result<std::string> b = beancount_account(n.plain);
      if (!b.ok()) return b.status();
      n.account = std::move(*b);
    }
    return &names_.emplace(std::move(key), std::move(n)).first->second;
  }

  JournalFormat format_;
  const AccountMap& accounts_;
  std::unordered_map<std::string, Named> names_;
};

// One bill with what its transaction needs; its time and serial kept beside it for the sort.
struct Entry {
  double time;
  int32_t serial;
  const JournalBill* b;
  const Named* channel;
  const Named* category;
};

// The bills that can be written, sorted by time then serial.
Result<std::vector<Entry>> entries_of(const std::vector<JournalBill>& bills, Names* names,
                                      std::vector<int32_t>* left_out) {
  std::vector<Entry> out;
  out.reserve(bills.size());
  for (const JournalBill& jb : bills) {
    if (!std::isfinite(jb.bill.amount)) {
      left_out->push_back(jb.bill.serial);
      continue;
    }
    Result<const Named*> ch = names->channel(jb.bill.channel);
    if (!ch.ok()) return ch.status();
    Result<const Named*> cat = names->category(jb.category, jb.bill.is_expense());
    if (!cat.ok()) return cat.status();
    out.push_back({jb.bill.time, jb.bill.serial, &jb, *ch, *cat});
  }
  auto earlier = [](const Entry& x, const Entry& y) {
    return x.time != y.time ? x.time < y.time : x.serial < y.serial;
  };
  // Bills are nearly always stored in time order already.
  if (!std::is_sorted(out.begin(), out.end(), earlier)) std::stable_sort(out.begin(), out.end(), earlier);
  return out;
}

// Each account with the date of its first use (the entries are in time order) and the name it
// stands for.
struct Opened {
  std::string date, name;
};
std::map<std::string, Opened> accounts_used(const std::vector<Entry>& entries) {
  std::map<std::string, Opened> used;
  for (const Entry& e : entries) {
    for (const Named* n : {e.channel, e.category}) {
      if (!used.count(n->account)) used.emplace(n->account, Opened{moment_of(e.time).date, n->plain});
    }
  }
  return used;
}

// The two postings: the category's account takes an expense, the channel's an income.
void append_postings(const Entry& e, const char* indent, std::string* s) {
  const Bill& b = e.b->bill;
  const std::string& to = b.is_expense() ? e.category->account : e.channel->account;
  const std::string& from = b.is_expense() ? e.channel->account : e.category->account;
  const std::string amount = exact_amount_text(b.amount);
  const bool negative = amount[0] == '-';
  *s += indent;
  *s += to;
  *s += "  ";
  *s += amount;
  *s += " ";
  *s += kCurrency;
  *s += "\n";
  *s += indent;
  *s += from;
  *s += "  ";
  if (negative) {
    s->append(amount, 1);
  } else {
    *s += amount == "0.00" ? "" : "-";
    *s += amount;
  }
  *s += " ";
  *s += kCurrency;
  *s += "\n\n";
}

void append_beancount_entry(const Entry& e, Utf8Text& utf8, std::string* s) {
  const JournalBill& jb = *e.b;
  const Moment at = moment_of(e.time);
  *s += at.date;
  *s += " *";
  if (!jb.counterpart.empty()) *s += " " + quoted(utf8(jb.counterpart));
  *s += " ";
  append_quoted(jb.goods.empty() ? std::string() : utf8(jb.goods), s);
  *s += "\n  time: \"";
  *s += at.time;
  *s += "\"\n  channel: ";
  append_quoted(e.channel->text, s);
  *s += "\n  serial: \"" + std::to_string(jb.bill.serial) + "\"\n  category: ";
  append_quoted(e.category->text, s);
  *s += "\n";
  if (!jb.bill.remark.empty()) {
    *s += "  remark: ";
    *s += '"';
    utf8.append_escaped(jb.bill.remark, true, s);
    *s += '"';
    *s += "\n";
  }
  append_postings(e, "  ", s);
}

// Room for a transaction of either form with a remark of a few dozen characters.
constexpr size_t kEntryBytes = 320;

std::string beancount_text(const std::vector<Entry>& entries) {
  Utf8Text utf8;
  std::string s = std::string("option \"operating_currency\" \"") + kCurrency + "\"\n\n";
  for (const auto& [account, opened] : accounts_used(entries)) {
    s += opened.date + " open " + account + " " + kCurrency + "\n";
    if (opened.name != account) s += "  name: " + quoted(opened.name) + "\n";
  }
  s += "\n";
  s.reserve(s.size() + entries.size() * kEntryBytes);
  for (const Entry& e : entries) append_beancount_entry(e, utf8, &s);
  return s;
}

void append_plain_entry(const Entry& e, Utf8Text& utf8, std::string* s) {
  const JournalBill& jb = *e.b;
  std::string description = jb.counterpart.empty() ? "" : description_text(utf8(jb.counterpart));
  const std::string goods = jb.goods.empty() ? "" : description_text(utf8(jb.goods));
  if (!goods.empty()) description += description.empty() ? goods : " | " + goods;
  const Moment at = moment_of(e.time);
  *s += at.date;
  *s += " *" + (description.empty() ? "" : " " + description);
  *s += "\n    ; time: ";
  *s += at.time;
  *s += "\n    ; channel: ";
  escape(e.channel->text, false, s);
  *s += "\n    ; serial: " + std::to_string(jb.bill.serial) + "\n    ; category: ";
  escape(e.category->text, false, s);
  *s += "\n";
  if (!jb.bill.remark.empty()) {
    *s += "    ; note: ";
    utf8.append_escaped(jb.bill.remark, false, s);
    *s += "\n";
  }
  append_postings(e, "    ", s);
}

std::string plain_text(const std::vector<Entry>& entries, JournalFormat format) {
  Utf8Text utf8;
  // No display format: a balance shows every decimal its amounts have.
  std::string s = std::string("commodity ") + kCurrency + "\n\n";
  for (const auto& entry : accounts_used(entries)) s += "account " + entry.first + "\n";
  if (format == JournalFormat::Ledger) {
    s += "\n";
    for (const char* tag : kTags) s += std::string("tag ") + tag + "\n";
  }
  s += "\n";
  s.reserve(s.size() + entries.size() * kEntryBytes);
  for (const Entry& e : entries) append_plain_entry(e, utf8, &s);
  return s;
}

}  // namespace

Result<Journal> write_journal(const std::vector<JournalBill>& bills, JournalFormat format,
                              const AccountMap& accounts) {
  Journal j;
  Names names(format, accounts);
  Result<std::vector<Entry>> entries = entries_of(bills, &names, &j.left_out);
  if (!entries.ok()) return entries.status();
  j.text = format == JournalFormat::Beancount ? beancount_text(*entries) : plain_text(*entries, format);
  return j;
}

}  // namespace pennacle
