// kdbtool categorize, category and categories. Compiled with UTF-8 literals like the rest of kdbtool.
#include "tools/kdbtool_categories.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <ostream>
#include <tuple>

#include "ledger/import/bill_csv.h"
#include "ledger/import/bill_text.h"
#include "ledger/import/import_preview.h"
#include "platform/gbk.h"
#include "runtime/convert.h"
#include "store/record_store.h"
#include "tools/kdbtool_text.h"

namespace pennacle {
namespace {

const char* const kCategorizeHelp =
    "usage: kdbtool categorize FILE [--rules RULES] [--all] [--dry-run]\n"
    "Gives the bills of FILE their categories by the rules (RULES, else rules.yaml beside FILE), kept in\n"
    "FILE.categories. Without --all only bills without a category get one; with --all every bill whose\n"
    "category no person set (kdbtool category) is categorized again. A bill no rule matches keeps what it\n"
    "has. A bill imported from Alipay or WeChat Pay meets that section of the rules with its counterpart\n"
    "and goods taken from its remark; any other bill meets the pennacle section (method is its 付款方式,\n"
    "item its 备注). --dry-run shows the changes as a table (with each bill's record serial) and writes\n"
    "nothing.\n"
    "A rule's methodAccount (Assets:..., Liabilities:...) is kept for each bill it matches in\n"
    "FILE.accounts (without --all only for bills without one): a journal export posts the bill's\n"
    "channel side to it. --dry-run shows it in brackets after the remark.\n";

const char* const kCategoryHelp =
    "usage: kdbtool category FILE SERIAL NAME\n"
    "Sets the category of the bill whose record serial is SERIAL to NAME (parts separated by colons, as\n"
    "餐饮:午餐), by hand: rules never change it afterwards. 'kdbtool categorize FILE --all --dry-run'\n"
    "shows serials.\n";

const char* const kCategoriesHelp =
    "usage: kdbtool categories FILE\n"
    "Lists the categories FILE knows, and 未分类, with the count and the sum of the bills of each side.\n";

std::string amount_text(double a) { return utf8(double_to_text(a)); }

// A live bill of the ledger and its serial.
struct LiveBill {
  int32_t serial = 0;
  Bill bill;
};

// Calls `each` with every live bill of the ledger `db_arg` (opened read-only and closed again).
Status for_each_live_bill(const std::string& db_arg, const std::function<void(LiveBill&)>& each) {
  if (Status s = open_record_file(db_arg, true); !s.ok()) return s;
  Result<BillTable> t = current_bill_table();
  DbCode rc = DbCode::Ok;
  if (t.ok()) {
    const int32_t count = call_command(db_record_count, {}).int_payload();
    rc = db_last_error();
    call_command(db_go_first, {});
    for (int32_t k = 0; k < count && rc == DbCode::Ok; ++k) {
      int32_t serial = 0;
      if ((rc = db_current_serial(&serial)) != DbCode::Ok) break;
      if (serial > 0) {
        LiveBill b{serial, Bill{}};
        // The table was checked: every field has a kind a bill takes.
        std::ignore = read_current_bill(&b.bill);
        if ((rc = db_last_error()) != DbCode::Ok) break;
        each(b);
      }
      std::ignore = db_skip_within(count);  // a failed step fails the next read
    }
  }
  call_command(db_close, {});
  if (!t.ok()) return t.status().with_context(db_arg);
  return rc == DbCode::Ok ? Status() : store_status(rc).with_context(db_arg);
}

Result<std::vector<LiveBill>> read_live_bills(const std::string& db_arg) {
  std::vector<LiveBill> bills;
  if (Status s = for_each_live_bill(db_arg, [&](LiveBill& b) { bills.push_back(std::move(b)); }); !s.ok())
    return s;
  return bills;
}

LiveBills live_of(const std::vector<LiveBill>& bills) {
  LiveBills live;
  for (const LiveBill& b : bills) live[b.serial] = category_key(b.serial, b.bill);
  return live;
}

Result<std::string> gbk_record_path(const std::string& db_arg) {
  std::optional<std::string> gbk = utf8_to_gbk(db_arg);
  if (!gbk) return Status::invalid(db_arg + ": the path has characters GBK cannot hold");
  return *gbk;
}

// Opens FILE's category file; for writing it is locked before the ledger is read (the side files'
// lock comes before the record file's).
Status open_categories(const std::string& db_arg, bool for_write, CategoryFile* file) {
  Result<std::string> gbk = gbk_record_path(db_arg);
  if (!gbk.ok()) return gbk.status();
  return file->open(posix_file_system(), categories_path(*gbk), for_write);
}

// Opens FILE's method account file, locked for writing after the category file.
Status open_method_accounts(const std::string& db_arg, bool for_write, MethodAccountFile* file) {
  Result<std::string> gbk = gbk_record_path(db_arg);
  if (!gbk.ok()) return gbk.status();
  return file->open(posix_file_system(), method_accounts_path(*gbk), for_write);
}

struct CategorizeArgs {
  std::string file, rules;
  bool all = false, dry_run = false;
};

bool parse_categorize(const std::vector<std::string>& args, CategorizeArgs* a, std::ostream& err) {
  size_t files = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--all") {
      a->all = true;
    } else if (args[i] == "--dry-run") {
      a->dry_run = true;
    } else if (args[i] == "--rules" && i + 1 < args.size()) {
      a->rules = args[++i];
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return fail(err, "unknown option '" + args[i] + "' (see kdbtool categorize --help)"), false;
    } else {
      ++files;
      a->file = args[i];
    }
  }
  if (files != 1) return fail(err, "categorize needs one FILE (see kdbtool categorize --help)"), false;
  return true;
}

struct Change {
  LiveBill bill;
  std::string from, to;  // GBK
  std::string account;   // GBK: the method account it is given; empty for none
};

void print_changes(const std::vector<Change>& changes, std::ostream& out) {
  out << "serial  时间                 类型  金额  分类  <- 原分类  备注  [账户]\n";
  for (const Change& c : changes) {
    const Bill& b = c.bill.bill;
    out << c.bill.serial << "  " << format_date_time(b.time) << "  " << utf8(b.type) << "  "
        << amount_text(b.amount) << "  " << utf8(c.to) << "  <- " << utf8(c.from) << "  " << utf8(b.remark);
    if (!c.account.empty()) out << "  [" << utf8(c.account) << "]";
    out << "\n";
  }
}

// The first methodAccount of the rules, in every section, for which `pick` (bool(const std::string&))
// holds; nullptr when none does.
template <typename Pick>
const std::string* find_method_account(const CategoryRules& rules, Pick&& pick) {
  for (size_t section = 0; section < kRuleSections; ++section) {
    for (const CategoryRules::Rule& r : rules.rules(static_cast<RuleSection>(section))) {
      if (!r.method_account.empty() && pick(r.method_account)) return &r.method_account;
    }
  }
  return nullptr;
}

bool gives_method_accounts(const CategoryRules& rules) {
  return find_method_account(rules, [](const std::string&) { return true; }) != nullptr;
}

// What a categorize sets: categories and method accounts, and its counts.
struct Categorized {
  std::vector<Change> changes;  // for --dry-run's table
  std::vector<CategoryEntry> entries, accounts;
  LiveBills live;
  int by_hand = 0, unmatched = 0;
  bool rules_give_accounts = false;
};

// Matches the rules on bill `b` when its category is theirs to set (none yet, or --all and no person
// set it) or its method account is (none yet, or --all); a rule's methodAccount is kept whatever
// became of the category.
void categorize_bill(const CategorizeArgs& a, const CategoryRules& rules, const CategoryFile& file,
                     const MethodAccountFile& accounts, LiveBill& b, Categorized* c) {
  const CategoryKey key = category_key(b.serial, b.bill);
  c->live.emplace(b.serial, key);
  const CategoryEntry* now = file.find(key);
  const CategoryEntry* account = accounts.find(key);
  const bool keep_category = now && (now->by_hand || !a.all);
  if (keep_category) c->by_hand += now->by_hand;
  const bool account_due = c->rules_give_accounts && (!account || a.all);
  if (keep_category && !account_due) return;
  RuleMatch m = rules.match(bill_rule_input(b.bill));
  std::string to;
  if (!keep_category && m.category.empty()) {
    ++c->unmatched;
  } else if (!keep_category && (!now || now->name != m.category)) {
    c->entries.push_back({key, m.category, false});
    to = m.category;
  }
  const bool new_account =
      account_due && !m.method_account.empty() && (!account || account->name != m.method_account);
  if (new_account) c->accounts.push_back({key, m.method_account, false});
  if (!a.dry_run || (to.empty() && !new_account)) return;
  std::string from = now ? now->name : std::string(uncategorized());
  if (to.empty()) to = from;
  c->changes.push_back({std::move(b), std::move(from), std::move(to), new_account ? m.method_account : ""});
}

}  // namespace

Result<std::optional<CategoryRules>> rules_for(const std::string& db_arg, const std::string& rules_arg) {
  if (rules_arg.empty()) return rules_beside_ledger(db_arg);
  Result<CategoryRules> rules = CategoryRules::load(rules_arg);
  if (!rules.ok()) return rules.status();
  return std::optional<CategoryRules>(std::move(*rules));
}

Result<std::optional<CategoryRules>> rules_for_bills(const std::string& db_arg,
                                                     const std::string& rules_arg) {
  Result<std::optional<CategoryRules>> rules = rules_for(db_arg, rules_arg);
  if (!rules.ok() || !*rules) return rules;
  std::string why;
  const std::string* bad = find_method_account(**rules, [&why](const std::string& account) {
    why = method_account_problem(account);
    return !why.empty();
  });
  if (!bad) return rules;
  const std::string file = rules_arg.empty() ? rules_path_beside(db_arg) : rules_arg;
  return Status::invalid(file + ": methodAccount '" + utf8(*bad) + "': " + why);
}

int kdbtool_categorize(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << kCategorizeHelp, 0;
  CategorizeArgs a;
  if (!parse_categorize(args, &a, err)) return 1;
  Result<std::optional<CategoryRules>> rules = rules_for_bills(a.file, a.rules);
  if (!rules.ok()) return fail(err, rules.status().message() + "; nothing was categorized");
  if (!*rules)
    return fail(err, a.file + ": no rules: give --rules RULES or put rules.yaml beside the ledger");
  // Both files' locks, categories first, before the ledger is read. Rules without a methodAccount
  // leave the method account file alone (read only, never made).
  CategoryFile file;
  MethodAccountFile accounts;
  const bool rules_give_accounts = gives_method_accounts(**rules);
  const bool accounts_written = !a.dry_run && rules_give_accounts;
  if (Status s = open_categories(a.file, !a.dry_run, &file); !s.ok()) return fail(err, s.message());
  if (Status s = open_method_accounts(a.file, accounts_written, &accounts); !s.ok())
    return fail(err, s.message());
  Categorized c;
  c.rules_give_accounts = rules_give_accounts;
  const Status walked =
      for_each_live_bill(a.file, [&](LiveBill& b) { categorize_bill(a, **rules, file, accounts, b, &c); });
  if (!walked.ok()) return fail(err, walked.message());
  if (a.dry_run) print_changes(c.changes, out);
  if (!a.dry_run) {
    if (Status s = file.update(c.entries, &c.live); !s.ok()) return fail(err, s.message());
    Status s = accounts_written ? accounts.update(c.accounts, &c.live) : Status();
    if (!s.ok()) return fail(err, s.message() + "; the categories are set, the method accounts are not");
  }
  out << (a.dry_run ? "would categorize " : "categorized ") << c.entries.size()
      << " bill(s); set by hand, left alone " << c.by_hand << "; no rule matched " << c.unmatched;
  if (c.rules_give_accounts)
    out << "; method account" << (a.dry_run ? " would be set for " : " set for ") << c.accounts.size();
  out << "\n";
  return 0;
}

int kdbtool_category(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << kCategoryHelp, 0;
  if (args.size() != 3)
    return fail(err, "category needs FILE, SERIAL and NAME (see kdbtool category --help)");
  int32_t serial = 0;
  const std::string& s = args[1];
  if (std::from_chars(s.data(), s.data() + s.size(), serial).ptr != s.data() + s.size() || s.empty() ||
      serial <= 0)
    return fail(err, "SERIAL '" + s + "' is not a record serial (a whole number above 0)");
  const std::optional<std::string> name = utf8_to_gbk(args[2]);
  if (!name) return fail(err, "category '" + args[2] + "' has characters GBK cannot hold");
  if (std::string why = category_name_problem(*name); !why.empty())
    return fail(err, "'" + args[2] + "': " + why);
  CategoryFile file;
  if (Status st = open_categories(args[0], true, &file); !st.ok()) return fail(err, st.message());
  Result<std::vector<LiveBill>> bills = read_live_bills(args[0]);
  if (!bills.ok()) return fail(err, bills.status().message());
  auto it = std::find_if(bills->begin(), bills->end(), [&](const LiveBill& b) { return b.serial == serial; });
  if (it == bills->end()) return fail(err, args[0] + ": no live bill has the serial " + s);
  const LiveBills live = live_of(*bills);
  if (Status st = file.update({{category_key(serial, it->bill), *name, true}}, &live); !st.ok())
    return fail(err, st.message());
  out << "bill " << serial << ": " << args[2] << " (set by hand)\n";
  return 0;
}

int kdbtool_categories(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << kCategoriesHelp, 0;
  if (args.size() != 1) return fail(err, "categories needs one FILE (see kdbtool categories --help)");
  CategoryFile file;
  if (Status s = open_categories(args[0], false, &file); !s.ok()) return fail(err, s.message());
  Result<std::vector<LiveBill>> bills = read_live_bills(args[0]);
  if (!bills.ok()) return fail(err, bills.status().message());
  struct Sums {
    int expenses = 0, incomes = 0;
    double expense = 0, income = 0;
  };
  std::vector<std::string> order = file.names();
  order.emplace_back(uncategorized());
  std::map<std::string, Sums> sums;
  for (const LiveBill& b : *bills) {
    const CategoryEntry* e = file.find(category_key(b.serial, b.bill));
    Sums& s = sums[e ? e->name : std::string(uncategorized())];
    (b.bill.is_expense() ? s.expense : s.income) += b.bill.amount;
    ++(b.bill.is_expense() ? s.expenses : s.incomes);
  }
  std::vector<std::vector<std::string>> rows = {{"分类", "支出笔数", "支出合计", "收入笔数", "收入合计"}};
  for (const std::string& name : order) {
    const Sums& s = sums[name];
    rows.push_back({utf8(name), std::to_string(s.expenses), amount_text(s.expense), std::to_string(s.incomes),
                    amount_text(s.income)});
  }
  std::vector<size_t> width(5, 0);
  for (const auto& r : rows) {
    for (size_t c = 0; c < r.size(); ++c) width[c] = std::max(width[c], display_width(r[c]));
  }
  for (const auto& r : rows) {
    std::string line;
    for (size_t c = 0; c < r.size(); ++c) {
      const std::string fill(width[c] - display_width(r[c]), ' ');
      line += (c ? "  " : "") + (c ? fill + r[c] : r[c] + fill);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  }
  return 0;
}

std::vector<ImportCategory> csv_categories(const std::vector<CsvBill>& bills, size_t from, size_t to,
                                           const CategoryRules* rules) {
  std::vector<ImportCategory> out;
  for (size_t i = from; i < to && i < bills.size(); ++i) {
    ImportCategory c;
    if (!bills[i].category.empty()) c = {bills[i].category, false, true, ""};
    // A 分类 cell names the category; the rules may still give the bill its method account.
    if (rules) {
      RuleMatch m = rules->match(bill_rule_input(bills[i].bill));
      if (c.name.empty()) c.name = std::move(m.category);
      c.method_account = std::move(m.method_account);
    }
    out.push_back(std::move(c));
  }
  return out;
}

Result<std::optional<CategoryColumn>> CategoryColumn::for_current_database() {
  Result<BillTable> table = current_bill_table();
  if (!table.ok()) return std::optional<CategoryColumn>();
  CategoryColumn column;
  column.file_ = std::make_shared<CategoryFile>();
  const Status s = column.file_->open(posix_file_system(), categories_path(table->full_path), false);
  if (!s.ok()) return s;
  return std::optional<CategoryColumn>(std::move(column));
}

std::string CategoryColumn::current_cell(int32_t serial) const {
  Bill b;
  // A field of another kind leaves the bill's values unread: such a record has no entry.
  if (serial == 0 || read_current_bill(&b, BillParts::WithoutTexts)) return utf8(uncategorized());
  const CategoryEntry* e = file_->find(category_key(serial < 0 ? -serial : serial, b));  // -: deleted
  return utf8(e ? e->name : uncategorized());
}

}  // namespace pennacle
