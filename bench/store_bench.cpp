// The record store against its peers, measured in the same run on the same disk:
//   durable_append  count then append, as the program adds a bill;    vs SQLite insert (autocommit,
//                   on the disk before it returns                         synchronous=FULL, rollback
//                                                                         journal)
//   group_append    appends in groups of 1000 with one pair of barriers  vs SQLite transactions of
//                                                                         1000 inserts, FULL
//   import          kdbtool import of 10,000 bills (and its syncs)      vs SQLite, one transaction
//   walk            go first, then per record the list's read of a      vs SQLite select of all rows:
//                   bill (read_current_bill: its five fields under one      `sqlite` steps through them,
//                   hold of the record) and a step within the count         `sqlite_bills` also reads each
//                                                                         row's five values into a bill
//   field_read      one field read of the walk                          vs lock, pread, unlock
//   edit            one durable edit in place of a bill's amount and     vs SQLite update of one row
//                   channel (edit_remark: amount and remark)                by rowid, synchronous=FULL
//   purge           every tenth record deleted, then purge              vs a plain copy of the kept
//                                                                         bytes (and one synced);
//                                                                         SQLite delete+vacuum
// One line per figure: BENCH <figure> ours_ns=<per op> peer=<name> peer_ns=<per op> ratio=<ours/peer>
//
//   store_bench [--records N] [--appends N] [--mode alone|full|shared]      (bench/store_mode.h)
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "bench/store_mode.h"
#include "ledger/bill.h"
#include "platform/gbk.h"
#include "store/record_store.h"
#include "testing/fault_file.h"
#include "tools/kdbtool.h"

using namespace pennacle;

namespace {

double now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

void report(const char* figure, double ours, const char* peer, double theirs) {
  std::printf("BENCH %s ours_ns=%.0f peer=%s peer_ns=%.0f ratio=%.3f\n", figure, ours, peer, theirs,
              ours / theirs);
  std::fflush(stdout);
}

void die(const std::string& what) {
  std::fprintf(stderr, "store_bench: %s\n", what.c_str());
  std::exit(1);
}

void sql(sqlite3* db, const char* s) {
  char* msg = nullptr;
  if (sqlite3_exec(db, s, nullptr, nullptr, &msg) != SQLITE_OK)
    die(std::string("sqlite: ") + (msg ? msg : s));
}

const char* const kTypes[] = {"支出", "收入"};
const char* const kChannels[] = {"支付宝", "微信", "股票", "基金", "QQ钱包", "银行卡"};

std::string remark(int i) { return "备注" + std::to_string(i); }

// One bill as the program stores it: the running number, then the five fields.
std::vector<Value> bill_values(int i, double number, std::vector<Text>* keep) {
  keep->emplace_back(kTypes[i % 2]);
  const Value type = keep->back().value();
  keep->emplace_back(kChannels[i % 6]);
  const Value channel = keep->back().value();
  keep->emplace_back(remark(i));
  return {Value::of_double(number),
          type,
          Value::of_double(i * 0.5 + 1),
          channel,
          Value::of_date_time(45000 + i / 100.0),
          keep->back().value()};
}

void bind_bill(sqlite3_stmt* ins, int i, const std::string& note) {
  sqlite3_bind_double(ins, 1, i + 1.0);
  sqlite3_bind_text(ins, 2, kTypes[i % 2], -1, SQLITE_STATIC);
  sqlite3_bind_double(ins, 3, i * 0.5 + 1);
  sqlite3_bind_text(ins, 4, kChannels[i % 6], -1, SQLITE_STATIC);
  sqlite3_bind_double(ins, 5, 45000 + i / 100.0);
  sqlite3_bind_text(ins, 6, note.c_str(), -1, SQLITE_TRANSIENT);
}

void sqlite_insert(sqlite3* db, sqlite3_stmt* ins, int from, int to, int per_transaction) {
  for (int i = from; i < to; ++i) {
    if (per_transaction > 1 && (i - from) % per_transaction == 0) sql(db, "BEGIN");
    bind_bill(ins, i, remark(i));
    if (sqlite3_step(ins) != SQLITE_DONE) die("sqlite insert");
    sqlite3_reset(ins);
    if (per_transaction > 1 && ((i - from) % per_transaction == per_transaction - 1 || i + 1 == to))
      sql(db, "COMMIT");
  }
}

// kdbtool import of `bills` bills into a new ledger: nanoseconds, and the syncs it made.
double time_import(const std::string& dir, int bills, bench::SecondOpener& second, int* syncs) {
  std::string csv = "类型,金额,付款方式,时间,备注\n";
  for (int i = 0; i < bills; ++i) {
    csv += std::string(kTypes[i % 2]) + "," + std::to_string(i * 0.5 + 1) + "," + kChannels[i % 6] +
           ",2024-01-01 10:00:00," + remark(i) + "\n";
  }
  csv = gbk_to_utf8(csv).value_or("");  // the tool reads UTF-8
  const std::string csv_path = dir + "/import.csv", kdb = dir + "/import.kdb";
  FILE* f = std::fopen(csv_path.c_str(), "wb");
  if (!f || std::fwrite(csv.data(), 1, csv.size(), f) != csv.size() || std::fclose(f) != 0) die("csv");
  if (create_database(kdb, bill_table_fields()) != DbCode::Ok) die("cannot create the import file");
  second.hold(kdb);
  FaultFileSystem counting(posix_file_system());  // no faults armed: it only counts
  set_store_file_system(&counting);
  std::ostringstream out, err;
  const double t0 = now_ns();
  if (kdbtool_main({"import", kdb, csv_path}, out, err) != 0) die("import: " + err.str());
  const double ns = now_ns() - t0;
  set_store_file_system(nullptr);
  *syncs = counting.calls(FileOp::Sync);
  return ns;
}

// What the phases share: the directory, the record file (open, with `n` bills once the appends are
// done) and the SQLite peer holding the same bills.
struct Run {
  std::string dir, kdb;
  int n = 100000, appends = 2000;
  sqlite3* sdb = nullptr;
  sqlite3_stmt* ins = nullptr;  // the peer's insert
  double checksum = 0;          // keeps the reads from being optimised away
  bench::StoreMode mode = bench::StoreMode::Alone;
  bench::SecondOpener* second = nullptr;  // holds each record file open in the shared mode
};

// The five fields the record list reads, by name.
const BillField kFields[] = {BillField::Type, BillField::Amount, BillField::Channel, BillField::Time,
                             BillField::Remark};

// Each bill on the disk before the call returns, as the program adds one.
void bench_durable_append(Run& r) {
  double t0 = now_ns();
  for (int i = 0; i < r.appends; ++i) {
    const int32_t count = call_command(db_record_count, {}).int_payload();
    std::vector<Text> keep;
    std::vector<Value> v = bill_values(i, count + 1.0, &keep);
    if (!call_command(db_append, {v[0], v[1], v[2], v[3], v[4], v[5]}).lo)
      die("append failed: " + std::to_string(code_number(db_last_error())));
  }
  const double ours = (now_ns() - t0) / r.appends;
  if (sqlite3_open((r.dir + "/peer.sqlite").c_str(), &r.sdb) != SQLITE_OK) die("sqlite open");
  sql(r.sdb, "PRAGMA synchronous=FULL");
  sql(r.sdb, "CREATE TABLE bills(n REAL, type TEXT, amount REAL, channel TEXT, time REAL, remark TEXT)");
  sqlite3_prepare_v2(r.sdb, "INSERT INTO bills VALUES(?,?,?,?,?,?)", -1, &r.ins, nullptr);
  t0 = now_ns();
  sqlite_insert(r.sdb, r.ins, 0, r.appends, 1);
  report("durable_append", ours, "sqlite_full", (now_ns() - t0) / r.appends);
}

// The other bills in groups of 1000, as kdbtool import writes them.
void bench_group_append(Run& r) {
  double t0 = now_ns();
  for (int from = r.appends; from < r.n; from += 1000) {
    std::vector<Text> keep;
    keep.reserve(3000);
    std::vector<std::vector<Value>> rows;
    for (int i = from; i < std::min(r.n, from + 1000); ++i) rows.push_back(bill_values(i, i + 1.0, &keep));
    if (db_append_rows(rows) != DbCode::Ok)
      die("group append failed: " + std::to_string(code_number(db_last_error())));
  }
  const double ours = (now_ns() - t0) / std::max(1, r.n - r.appends);
  t0 = now_ns();
  sqlite_insert(r.sdb, r.ins, r.appends, r.n, 1000);
  if (r.n > r.appends) report("group_append", ours, "sqlite_full_1000", (now_ns() - t0) / (r.n - r.appends));
  sqlite3_finalize(r.ins);
  r.ins = nullptr;
}

std::string_view column_text(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? std::string_view(reinterpret_cast<const char*>(t),
                              static_cast<size_t>(sqlite3_column_bytes(s, i)))
           : std::string_view();
}

// The walk the record list makes (go first, then a bill read and a skip per record) against a SQLite
// select; then field reads alone, the four fields stored in the record, timed call by call.
void bench_walk(Run& r, int32_t count, double* walk_ns, double* read_ns) {
  const Text names[5] = {Text(bill_field_name(kFields[0])), Text(bill_field_name(kFields[1])),
                         Text(bill_field_name(kFields[2])), Text(bill_field_name(kFields[3])),
                         Text(bill_field_name(kFields[4]))};
  double t0 = now_ns();
  call_command(db_go_first, {});
  Bill bill;
  for (int32_t k = 0; k < count; ++k) {
    if (read_current_bill(&bill)) die("a record that is not a bill");
    r.checksum += bill.amount + static_cast<double>(bill.remark.size());
    std::ignore = db_skip_within(count);
  }
  *walk_ns = now_ns() - t0;
  *read_ns = 0;
  call_command(db_go_first, {});
  for (int32_t k = 0; k < count; ++k) {
    for (int f = 0; f < 4; ++f) {
      const double r0 = now_ns();
      Value v = call_command(db_read_field, {names[f].value()});
      *read_ns += now_ns() - r0;
      release_value(v);
    }
    call_command(db_skip, {});
  }
  sqlite3_stmt* sel = nullptr;
  sqlite3_prepare_v2(r.sdb, "SELECT type, amount, channel, time, remark FROM bills", -1, &sel, nullptr);
  t0 = now_ns();
  int rows = 0;
  while (sqlite3_step(sel) == SQLITE_ROW) {
    r.checksum += sqlite3_column_double(sel, 1);
    rows += sqlite3_column_bytes(sel, 0) > 0;
  }
  const double sqlite_walk = (now_ns() - t0) / std::max(rows, 1);
  sqlite3_reset(sel);
  // The same select read as the walk reads a record: its five values into a bill.
  t0 = now_ns();
  rows = 0;
  while (sqlite3_step(sel) == SQLITE_ROW) {
    bill.type.assign(column_text(sel, 0));
    bill.amount = sqlite3_column_double(sel, 1);
    bill.channel.assign(column_text(sel, 2));
    bill.time = sqlite3_column_double(sel, 3);
    bill.remark.assign(column_text(sel, 4));
    r.checksum += bill.amount + static_cast<double>(bill.remark.size());
    ++rows;
  }
  const double sqlite_bill_walk = (now_ns() - t0) / std::max(rows, 1);
  sqlite3_finalize(sel);
  report("walk", *walk_ns / count, "sqlite", sqlite_walk);
  report("walk", *walk_ns / count, "sqlite_bills", sqlite_bill_walk);
  std::printf("BENCH walk alone=%d\n", db_current_alone() ? 1 : 0);
}

// The floor under one field read: lock the record's byte, pread the field, unlock. Nanoseconds per
// field.
double field_read_floor(Run& r, const DatabaseInfo& info, int32_t count) {
  int fd = open(r.kdb.c_str(), O_RDWR);
  if (fd < 0) die("open for the floor");
  std::vector<int64_t> offsets, widths;
  for (const BillField field : kFields) {
    for (const FieldDescriptor& f : info.fields) {
      if (f.name == bill_field_name(field)) {
        offsets.push_back(f.offset);
        widths.push_back(field_width(f.type, f.width));
      }
    }
  }
  char buf[256];
  const double t0 = now_ns();
  for (int32_t k = 0; k < count; ++k) {
    const int64_t rec = info.data_start + int64_t{k} * info.record_length;
    for (size_t f = 0; f < offsets.size(); ++f) {
      struct flock fl {};
      fl.l_type = F_WRLCK;
      fl.l_whence = SEEK_SET;
      fl.l_start = rec;
      fl.l_len = 1;
      if (fcntl(fd, F_OFD_SETLK, &fl) != 0) die("floor lock");
      if (pread(fd, buf, static_cast<size_t>(widths[f]), rec + offsets[f]) < 0) die("floor read");
      r.checksum += buf[0];
      fl.l_type = F_UNLCK;
      fcntl(fd, F_OFD_SETLK, &fl);
    }
  }
  const double floor = (now_ns() - t0) / (count * 5.0);
  close(fd);
  return floor;
}

// A plain copy of `bytes` bytes from the record file into another file, in the purge's batch size:
// nanoseconds without and with the final sync.
void plain_copy(const Run& r, const DatabaseInfo& info, int64_t bytes, double* copy_ns, double* synced_ns) {
  int in = open(r.kdb.c_str(), O_RDONLY);
  int out = open((r.dir + "/copy.bin").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  std::vector<char> batch(163840 / info.record_length * info.record_length);
  const double t0 = now_ns();
  for (int64_t done = 0; done < bytes;) {
    const size_t step =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(batch.size()), bytes - done));
    if (pread(in, batch.data(), step, info.data_start + done) < 0) die("copy read");
    if (pwrite(out, batch.data(), step, info.data_start + done) < 0) die("copy write");
    done += static_cast<int64_t>(step);
  }
  if (ftruncate(out, info.data_start + bytes) != 0) die("copy cut");
  *copy_ns = now_ns() - t0;
  if (fdatasync(out) != 0) die("copy sync");
  *synced_ns = now_ns() - t0;
  close(in);
  close(out);
}

// Every tenth record deleted, then purged, against a plain copy of the kept bytes and SQLite's
// delete and vacuum. Gives the plain copy's nanoseconds.
double bench_purge(Run& r, const DatabaseInfo& info, int32_t count) {
  for (int32_t k = 1; k <= count; k += 10) {
    call_command(db_go_to, {Value::of_int(k)});
    if (!call_command(db_delete, {}).lo) die("delete failed");
  }
  struct stat st {};
  stat(r.kdb.c_str(), &st);
  const int64_t kept_bytes = (st.st_size - info.data_start) / 10 * 9;
  double t0 = now_ns();
  if (!call_command(db_purge, {}).lo) die("purge failed: " + std::to_string(code_number(db_last_error())));
  const double ours = now_ns() - t0;
  double copy_ns = 0, synced_copy_ns = 0;
  plain_copy(r, info, kept_bytes, &copy_ns, &synced_copy_ns);
  report("purge", ours, "plain_copy", copy_ns);
  report("purge", ours, "plain_copy_synced", synced_copy_ns);
  t0 = now_ns();
  sql(r.sdb, "DELETE FROM bills WHERE rowid % 10 = 1");
  sql(r.sdb, "VACUUM");
  report("purge", ours, "sqlite_delete_vacuum", now_ns() - t0);
  return copy_ns;
}

// The same purge on bills without remarks: no chains to free, only records to move.
void bench_purge_no_memo(const Run& r, double copy_ns) {
  const std::string plain = r.dir + "/plain.kdb";
  if (create_database(plain, bill_table_fields()) != DbCode::Ok) die("cannot create the second record file");
  r.second->hold(plain);
  Text plain_name(plain);
  if (!call_command(db_open, {plain_name.value()}).lo) die("cannot open the second record file");
  for (int from = 0; from < r.n; from += 1000) {
    std::vector<Text> keep;
    std::vector<std::vector<Value>> rows;
    for (int i = from; i < std::min(r.n, from + 1000); ++i) {
      keep.emplace_back(kTypes[i % 2]);
      const Value type = keep.back().value();
      keep.emplace_back(kChannels[i % 6]);
      rows.push_back({Value::of_double(i + 1.0), type, Value::of_double(i + 1.0), keep.back().value(),
                      Value::of_date_time(45000), Value{}});
    }
    if (db_append_rows(rows) != DbCode::Ok) die("group append failed");
  }
  for (int32_t k = 1; k <= r.n; k += 10) {
    call_command(db_go_to, {Value::of_int(k)});
    call_command(db_delete, {});
  }
  const double t0 = now_ns();
  if (!call_command(db_purge, {}).lo) die("purge failed");
  report("purge_no_memo", now_ns() - t0, "plain_copy", copy_ns);
  call_command(db_close, {});
}

// kdbtool import of 10,000 bills against SQLite inserting them in one transaction.
void bench_import(const Run& r) {
  int syncs = 0;
  const double import_ns = time_import(r.dir, 10000, *r.second, &syncs);
  sqlite3* idb = nullptr;
  if (sqlite3_open((r.dir + "/import.sqlite").c_str(), &idb) != SQLITE_OK) die("sqlite open");
  sql(idb, "PRAGMA synchronous=FULL");
  sql(idb, "CREATE TABLE bills(n REAL, type TEXT, amount REAL, channel TEXT, time REAL, remark TEXT)");
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(idb, "INSERT INTO bills VALUES(?,?,?,?,?,?)", -1, &ins, nullptr);
  const double t0 = now_ns();
  sqlite_insert(idb, ins, 0, 10000, 10000);
  const double sqlite_import_ns = now_ns() - t0;
  sqlite3_finalize(ins);
  sqlite3_close(idb);
  report("import_10000", import_ns, "sqlite_full_one_transaction", sqlite_import_ns);
  std::printf("BENCH import_10000 seconds=%.3f syncs=%d\n", import_ns / 1e9, syncs);
}

// --records N and --appends N; exits on anything else.
void parse_options(int argc, char** argv, Run* r) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) {
      r->n = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--appends") == 0 && i + 1 < argc) {
      r->appends = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--mode") == 0 && i + 1 < argc) {
      r->mode = bench::parse_mode(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: store_bench [--records N] [--appends N] [--mode alone|full|shared]\n");
      std::exit(std::strcmp(argv[i], "--help") == 0 ? 0 : 1);
    }
  }
  if (r->n < 10 || r->appends < 1) die("--records must be 10 or more, --appends 1 or more");
  r->appends = std::min(r->appends, r->n);
}

// One edit in place: the record found by its slot and serial, then db_edit, on the disk before it
// returns, against the same change to one SQLite row by rowid. `remarks`: the remark changes too.
void bench_edit(Run& r, int32_t count, bool remarks) {
  const int edits = std::min(500, static_cast<int>(count));
  const auto slot = [count](int i) { return static_cast<int32_t>((int64_t{i} * 7919) % count); };
  double t0 = now_ns();
  for (int i = 0; i < edits; ++i) {
    call_command(db_go_to, {Value::of_int(slot(i) + 1)});
    int32_t serial = 0;
    if (db_current_serial(&serial) != DbCode::Ok) die("serial read failed");
    Text channel(kChannels[(i + 1) % 6]), note(remark(i + 7) + "改");
    std::vector<Value> v{Value{},
                         Value{},
                         Value::of_double(i * 0.25 + 2),
                         remarks ? Value{} : channel.value(),
                         Value{},
                         remarks ? note.value() : Value{}};
    if (db_edit(serial, v) != DbCode::Ok) die("edit failed: " + std::to_string(code_number(db_last_error())));
  }
  const double ours = (now_ns() - t0) / edits;
  sqlite3_stmt* up = nullptr;
  sqlite3_prepare_v2(r.sdb,
                     remarks ? "UPDATE bills SET amount=?, remark=? WHERE rowid=?"
                             : "UPDATE bills SET amount=?, channel=? WHERE rowid=?",
                     -1, &up, nullptr);
  t0 = now_ns();
  for (int i = 0; i < edits; ++i) {
    const std::string note = remark(i + 7) + "改";
    sqlite3_bind_double(up, 1, i * 0.25 + 2);
    sqlite3_bind_text(up, 2, remarks ? note.c_str() : kChannels[(i + 1) % 6], -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(up, 3, slot(i) + 1);
    if (sqlite3_step(up) != SQLITE_DONE) die("sqlite update");
    sqlite3_reset(up);
  }
  sqlite3_finalize(up);
  report(remarks ? "edit_remark" : "edit", ours, "sqlite_update_full", (now_ns() - t0) / edits);
}

}  // namespace

int main(int argc, char** argv) {
  Run r;
  parse_options(argc, argv, &r);
  bench::apply_mode(r.mode);
  bench::SecondOpener second(r.mode);
  r.second = &second;
  std::printf("BENCH mode %s\n", bench::mode_name(r.mode));
  char tmpl[] = "/tmp/pn_bench_XXXXXX";
  if (!mkdtemp(tmpl)) die("cannot make a temporary directory");
  r.dir = tmpl;
  r.kdb = r.dir + "/data.kdb";
  if (create_database(r.kdb, bill_table_fields()) != DbCode::Ok) die("cannot create the record file");
  Text name(r.kdb);
  second.hold(r.kdb);
  if (!call_command(db_open, {name.value()}).lo) die("cannot open the record file");
  bench_durable_append(r);
  bench_group_append(r);
  const int32_t count = call_command(db_record_count, {}).int_payload();
  double walk_ns = 0, read_ns = 0;
  bench_walk(r, count, &walk_ns, &read_ns);
  DatabaseInfo info;
  if (!db_current_info(&info)) die("no current database");
  const double floor_read = field_read_floor(r, info, count);
  // A field read on its own (the four fields inside the record), and a walk's field read with its
  // share of the skip and of the memo chain.
  report("field_read", read_ns / (count * 4.0), "syscall_floor", floor_read);
  report("walk_field_read", walk_ns / (count * 5.0), "syscall_floor", floor_read);
  bench_edit(r, count, false);
  bench_edit(r, count, true);
  const double copy_ns = bench_purge(r, info, count);
  sqlite3_close(r.sdb);
  call_command(db_close, {});
  bench_purge_no_memo(r, copy_ns);
  bench_import(r);
  std::fprintf(stderr, "records %d, checksum %.1f\n", r.n, r.checksum);
  std::string rm = "rm -rf '" + r.dir + "'";
  return std::system(rm.c_str()) == 0 ? 0 : 1;
}
