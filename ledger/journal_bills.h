// Bills as a journal or a report sees them: the bill, its category, its method account, and the
// counterpart and goods when they are known. Texts are GBK, as the ledger keeps them.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ledger/bill.h"
#include "platform/status.h"

namespace pennacle {

struct JournalBill {
  Bill bill;                // its serial is the record's
  std::string category;     // uncategorized() until a lookup gives one
  std::string counterpart;  // empty when not known
  std::string goods;        // empty when not known
  // The account a rule's methodAccount gave it (ledger/method_accounts.h): its channel side posts
  // there. Empty: the channel's account.
  std::string method_account{};
};

// Moments from `from` (inclusive) to `to` (exclusive), date-time values; unbounded by default.
struct DateRange {
  double from = -std::numeric_limits<double>::infinity();
  double to = std::numeric_limits<double>::infinity();
  bool contains(double t) const { return t >= from && t < to; }
  bool operator==(const DateRange&) const = default;
};

// The live bills of the current database whose time lies in `range`, in record order, each with
// the default category. Invalid, naming the record and the field, when a record holds a value a
// bill cannot have; a store failure as its Status.
Result<std::vector<JournalBill>> read_ledger_bills(const DateRange& range);

// A bill's category (GBK), or nullopt when none is recorded for it.
using CategoryLookup = std::function<std::optional<std::string>(const Bill&)>;

// Gives each bill the category `lookup` knows for it; the others keep the default.
void fill_categories(std::vector<JournalBill>* bills, const CategoryLookup& lookup);

// The current ledger's own categories: its category file (read, never made), each bill's entry
// checked against the bill's time, amount and side. A damaged file is its failure.
Result<CategoryLookup> ledger_categories();

// Bills packed for writing a journal: a row of 40 bytes per bill, its texts one after another in one
// buffer, its channel and category as indexes into tables of their names. A journal of 100,000
// bills then reads a few megabytes instead of strings spread over the heap, and makes no string
// per bill. A channel's index names the channel with the bill's method account: bills of one
// channel with different method accounts have different indexes under the same channel name.
class JournalRows {
 public:
  struct Row {
    double time = 0;
    double amount = 0;
    size_t text = 0;  // where its texts begin in the buffer: the remark, then the rest (below)
    int32_t serial = 0;
    uint32_t remark_size = 0;
    uint32_t channel : 31 = 0;   // index into channels() and channel_accounts()
    uint32_t described : 1 = 0;  // the remark is followed by the sizes of the counterpart and
                                 // the goods (4 bytes each) and by those two texts
    uint32_t category : 31 = 0;  // index into categories()
    uint32_t expense : 1 = 0;
  };

  // Adds `bill` with its category, counterpart, goods and method account (GBK; empty: none), each
  // text under 4 GiB.
  void add(const Bill& bill, std::string_view category, std::string_view counterpart = {},
           std::string_view goods = {}, std::string_view method_account = {});

  // Room for `bills` rows, with their texts when they are short; the pages of room never used are
  // never touched.
  void reserve(size_t bills) {
    rows_.reserve(bills);
    texts_.reserve(bills * 64);
  }

  const std::vector<Row>& rows() const { return rows_; }
  std::string_view remark(const Row& r) const { return text(r.text, r.remark_size); }
  std::string_view counterpart(const Row& r) const {
    return r.described ? text(r.text + r.remark_size + 2 * kSizeBytes, size_at(r.text + r.remark_size)) : "";
  }
  std::string_view goods(const Row& r) const {
    if (!r.described) return "";
    const size_t sizes = r.text + r.remark_size;
    return text(sizes + 2 * kSizeBytes + size_at(sizes), size_at(sizes + kSizeBytes));
  }
  // The distinct channels (each with a method account) and categories (GBK), in the order they came.
  const std::vector<std::string>& channels() const { return channels_.names; }
  const std::vector<std::string>& channel_accounts() const { return channels_.accounts; }  // "": none
  const std::vector<std::string>& categories() const { return categories_.names; }

 private:
  struct NameTable {
    struct Hash {
      using is_transparent = void;  // NOLINT(readability-identifier-naming): the standard names it
      size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    std::vector<std::string> names;
    std::vector<std::string> accounts;  // beside each name; "" for none
    // By name the entries without an account; by account, a zero byte and name the others.
    std::unordered_map<std::string, uint32_t, Hash, std::equal_to<>> index, paired;
    std::string key;  // room for a paired key
    uint32_t of(std::string_view name, std::string_view account = {});
    const std::string& paired_key(std::string_view name, std::string_view account);
  };
  static constexpr size_t kSizeBytes = sizeof(uint32_t);
  std::string_view text(size_t at, size_t size) const { return std::string_view(texts_).substr(at, size); }
  uint32_t size_at(size_t at) const;

  std::vector<Row> rows_;
  std::string texts_;
  NameTable channels_, categories_;
};

// `bills` packed, in their order.
JournalRows journal_rows(const std::vector<JournalBill>& bills);

// What read_ledger_bills gives, with ledger_categories' category and the method account file's
// account for each bill, packed; its failures as theirs (a bad record before a damaged category or
// method account file).
Result<JournalRows> read_journal_rows(const DateRange& range);

// What a report takes of them: read_journal_rows without method accounts (their file is not read)
// and without remarks (read and checked as ever, but every row's remark is empty).
Result<JournalRows> read_report_rows(const DateRange& range);

}  // namespace pennacle
