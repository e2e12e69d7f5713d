// The second window against a plain QStandardItemModel fed the same bills from SQLite, in one run:
//   - start to the first rows shown, and to the whole table and statistics ready, against the
//     peer's fill of its model (query, items, view shown);
//   - one keystroke in the search box filtering every bill, against QSortFilterProxyModel's own
//     filtering of the peer model for the same text;
//   - memory per bill above the empty window (each measured in a process of its own).
//
//   books_bench [--bills N] [--mode alone|full|shared] [--rounds R]   (default 100000, alone, 3)
#include <malloc.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/resident_memory.h"
#include "bench/store_mode.h"
#include "books/bills_page.h"
#include "books/book_session.h"
#include "books/books_window.h"
#include "ledger/amount_text.h"
#include "ledger/bill.h"
#include "ledger/categories.h"
#include "platform/file.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Bills as imports make them: a counterpart and goods in the remark, the channels of the entry, two
// years of dates, both sides, most with a category.
struct GenBill {
  Bill bill;
  std::string category;  // GBK, empty: none
};

// This file's literals are UTF-8, as Qt takes them; the ledger keeps GBK.
std::string g(const std::string& utf8) { return utf8_to_gbk(utf8).value_or(std::string()); }

GenBill gen_bill(int i, double now) {
  static const char* who[] = {"美团",     "饿了么",   "滴滴出行", "京东",  "淘宝",  "星巴克",
                              "中国石化", "盒马鲜生", "拼多多",   "12306", "Apple", "肯德基"};
  static const char* goods[] = {"外卖订单", "打车",      "日用品", "咖啡", "加油", "生鲜",
                                "火车票",   "App Store", "午餐",   "晚餐", "水果", "会员"};
  static const char* channels[] = {"支付宝", "微信", "股票", "基金", "QQ钱包", "银行卡"};
  static const char* categories[] = {"餐饮", "餐饮:午餐", "交通", "购物", "居家", "娱乐", "工资", ""};
  GenBill out;
  const bool income = i % 9 == 0;
  out.bill = {0,
              std::string(income ? income_type() : expense_type()),
              1 + (i % 997) * 0.37,
              g(channels[i % 6]),
              now - (i % 730) - (i % 86400) / 86400.0,
              g(std::string(who[i % 12]) + " · " + goods[(i / 12) % 12] + " " + std::to_string(i % 1000))};
  out.category = g(categories[i % 8]);
  return out;
}

bool make_files(const fs::path& dir, int n, double now) {
  const std::string kdb = (dir / "data.kdb").string();
  if (create_database(kdb, bill_table_fields()) != DbCode::Ok) return false;
  if (!open_record_file(kdb, false).ok()) return false;
  sqlite3* db = nullptr;
  if (sqlite3_open((dir / "peer.sqlite").string().c_str(), &db) != SQLITE_OK) return false;
  sqlite3_exec(db,
               "PRAGMA synchronous=OFF; CREATE TABLE bills(type TEXT, amount REAL, channel TEXT, time REAL, "
               "remark TEXT, category TEXT); BEGIN;",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO bills VALUES(?,?,?,?,?,?)", -1, &ins, nullptr);
  std::vector<Bill> group;
  std::vector<GenBill> gens;
  std::vector<CategoryEntry> entries;
  for (int i = 0; i < n; ++i) {
    GenBill b = gen_bill(i, now);
    const std::string u[] = {gbk_to_utf8_lossy(b.bill.type), gbk_to_utf8_lossy(b.bill.channel),
                             gbk_to_utf8_lossy(b.bill.remark),
                             gbk_to_utf8_lossy(b.category.empty() ? uncategorized() : b.category)};
    sqlite3_bind_text(ins, 1, u[0].c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(ins, 2, b.bill.amount);
    sqlite3_bind_text(ins, 3, u[1].c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(ins, 4, b.bill.time);
    sqlite3_bind_text(ins, 5, u[2].c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(ins, 6, u[3].c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(ins);
    sqlite3_reset(ins);
    group.push_back(b.bill);
    gens.push_back(std::move(b));
    if (group.size() == 1000 || i + 1 == n) {
      std::vector<int32_t> serials;
      if (append_bills(group, &serials) != DbCode::Ok) return false;
      for (size_t k = 0; k < serials.size(); ++k) {
        if (!gens[k].category.empty())
          entries.push_back({category_key(serials[k], group[k]), gens[k].category, false});
      }
      group.clear();
      gens.clear();
    }
  }
  sqlite3_finalize(ins);
  sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  call_command(db_close, {});
  CategoryFile file;
  return file.open(posix_file_system(), categories_path(kdb), true).ok() &&
         file.update(entries, nullptr).ok();
}

void settle() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

QString time_text(double t) {
  const DateTimeParts p = date_time_parts(t);
  return QString::asprintf("%04d-%02d-%02d %02d:%02d", p.year, p.month, p.day, p.hour, p.minute);
}

// The peer: every bill from SQLite, newest first, as six text items a row, shown in a table.
struct Peer {
  QStandardItemModel model;
  QTableView view;
  double fill_ms = 0;

  void fill(const fs::path& dir) {
    const auto t0 = Clock::now();
    sqlite3* db = nullptr;
    sqlite3_open((dir / "peer.sqlite").string().c_str(), &db);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT time, type, amount, channel, category, remark FROM bills ORDER BY time DESC",
                       -1, &q, nullptr);
    model.clear();
    model.setHorizontalHeaderLabels({"时间", "类型", "金额", "付款方式", "分类", "备注"});
    const auto text = [&](int c) {
      return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(q, c)));
    };
    while (sqlite3_step(q) == SQLITE_ROW) {
      auto* amount =
          new QStandardItem(QString::fromStdString(exact_amount_text(sqlite3_column_double(q, 2))));
      amount->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      model.appendRow({new QStandardItem(time_text(sqlite3_column_double(q, 0))), new QStandardItem(text(1)),
                       amount, new QStandardItem(text(3)), new QStandardItem(text(4)),
                       new QStandardItem(text(5))});
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
    view.setModel(&model);
    view.resize(1000, 600);
    view.show();
    settle();
    fill_ms = ms_since(t0);
  }
};

struct Ours {
  double first_rows_ms = 0, all_ready_ms = 0;
};

Ours open_window(const std::string& kdb, size_t n, std::unique_ptr<BooksWindow>* keep) {
  Ours o;
  const auto t0 = Clock::now();
  auto window = std::make_unique<BooksWindow>(kdb);
  bool ready = false;
  QObject::connect(&window->session(), &BookSession::loaded, window.get(), [&] { ready = true; });
  window->show();
  while (window->bills()->shown().size() != n) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  settle();
  o.first_rows_ms = ms_since(t0);
  while (!ready) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  o.all_ready_ms = ms_since(t0);
  *keep = std::move(window);
  return o;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int memory_child(const std::string& kdb, size_t n) {
  std::unique_ptr<BooksWindow> window;
  open_window(kdb, n, &window);
  settle();
  malloc_trim(0);
  std::printf("%lld\n", bench::rss_bytes());
  return 0;
}

long long child_rss(const char* self, const std::string& kdb, size_t n) {
  int out[2];
  if (pipe(out) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    const std::string count = std::to_string(n);
    execl(self, self, "--memory-child", kdb.c_str(), count.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  char buf[64] = {};
  const ssize_t got = read(out[0], buf, sizeof buf - 1);
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return got > 0 ? std::atoll(buf) : -1;
}

// One keystroke: the search box empty, then "美" typed; the peer's proxy given the same text.
void search_round(BooksWindow& window, Peer& peer, QSortFilterProxyModel& proxy, std::vector<double>* ours,
                  std::vector<double>* theirs) {
  QLineEdit* box = nullptr;
  for (QLineEdit* e : window.findChildren<QLineEdit*>())
    if (e->accessibleName() == "搜索") box = e;
  box->clear();
  settle();
  auto t0 = Clock::now();
  // A key event carrying the character, as an input method delivers it.
  QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, "美");
  QApplication::sendEvent(box, &press);
  settle();
  ours->push_back(ms_since(t0));
  proxy.setFilterFixedString(QString());
  settle();
  t0 = Clock::now();
  proxy.setFilterFixedString("美");
  settle();
  theirs->push_back(ms_since(t0));
  (void)peer;
}

int run(const char* self, int n, bench::StoreMode mode, int rounds) {
  const fs::path base = fs::temp_directory_path() / ("books_bench-" + std::to_string(getpid()));
  const fs::path empty = base / "empty", full = base / "full";
  fs::create_directories(empty);
  fs::create_directories(full);
  if (create_database((empty / "data.kdb").string(), bill_table_fields()) != DbCode::Ok ||
      !make_files(full, n, current_date_time())) {
    std::fprintf(stderr, "books_bench: cannot make the files in %s\n", base.c_str());
    return 1;
  }
  bench::apply_mode(mode);
  bench::SecondOpener second(mode);
  const std::string kdb = (full / "data.kdb").string();
  second.hold(kdb);
  std::printf("books_bench: %d bills, store mode %s, %d rounds (median)\n", n, bench::mode_name(mode),
              rounds);

  std::vector<double> fill, first, ready, search_ours, search_peer;
  Peer peer;
  std::unique_ptr<BooksWindow> window;
  for (int r = 0; r < rounds; ++r) {
    peer.fill(full);
    fill.push_back(peer.fill_ms);
    window.reset();
    settle();
    const Ours o = open_window(kdb, static_cast<size_t>(n), &window);
    first.push_back(o.first_rows_ms);
    ready.push_back(o.all_ready_ms);
  }
  QSortFilterProxyModel proxy;
  proxy.setSourceModel(&peer.model);
  proxy.setFilterKeyColumn(-1);
  proxy.setFilterCaseSensitivity(Qt::CaseInsensitive);
  peer.view.setModel(&proxy);
  for (int r = 0; r < rounds; ++r) search_round(*window, peer, proxy, &search_ours, &search_peer);

  const double f = median(fill);
  std::printf("  peer fill (SQLite -> QStandardItemModel, shown)  %8.1f ms\n", f);
  std::printf("  start to first rows shown                        %8.1f ms  %5.2fx peer (target <= 1.5x)\n",
              median(first), median(first) / f);
  std::printf("  start to whole table and statistics ready        %8.1f ms  %5.2fx peer (target <= 1.5x)\n",
              median(ready), median(ready) / f);
  std::printf("  one keystroke in the search box                  %8.2f ms\n", median(search_ours));
  std::printf("  QSortFilterProxyModel, same text                 %8.2f ms  ours %5.2fx (target <= 1x)\n",
              median(search_peer), median(search_ours) / median(search_peer));
  window.reset();
  const long long rss_empty = child_rss(self, (empty / "data.kdb").string(), 0);
  const long long rss_full = child_rss(self, kdb, static_cast<size_t>(n));
  std::printf("  memory: empty window %lld KB, with the bills %lld KB: %.1f bytes a bill (target <= 150)\n",
              rss_empty / 1024, rss_full / 1024, double(rss_full - rss_empty) / n);
  std::error_code ec;
  fs::remove_all(base, ec);
  return 0;
}

}  // namespace
}  // namespace pennacle

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc == 4 && std::strcmp(argv[1], "--memory-child") == 0) {
    return pennacle::memory_child(argv[2], static_cast<size_t>(std::atoll(argv[3])));
  }
  int n = 100000, rounds = 3;
  pennacle::bench::StoreMode mode = pennacle::bench::StoreMode::Alone;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--bills") == 0 && i + 1 < argc) {
      n = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--mode") == 0 && i + 1 < argc) {
      mode = pennacle::bench::parse_mode(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: books_bench [--bills N] [--mode alone|full|shared] [--rounds R]\n");
      return 2;
    }
  }
  return pennacle::run(argv[0], n, mode, rounds);
}
