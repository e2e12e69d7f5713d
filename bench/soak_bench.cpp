// Two processes on one ledger, as a second program beside the window would be: a writer that
// appends, deletes and now and then purges, and a reader that refreshes the list over and over
// (count, go first, read_current_bill and a step within the count per record). Both run the full lock
// protocol because both have the files open, with the wait time 0, so every conflict shows. Counted on each
// side: the lock calls made at the platform and those that met another process's lock, the operations that
// failed with a lock code, and on the reader's side the bills read whole but not as one bill was stored (a
// mix of two).
//
//   soak_bench [--seconds S] [--records N]                (default 3 seconds, 2000 bills)
//
// One line per side: BENCH soak_<side> <name>=<count> ...
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <tuple>

#include "ledger/bill.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "store/record_store.h"

using namespace pennacle;

namespace {

struct Counts {
  long ops = 0;              // refreshes (reader) or record operations (writer)
  long records = 0;          // records read (reader)
  long lock_calls = 0;       // lock calls that reached the platform
  long lock_conflicts = 0;   // of those, the ones another process's lock refused
  long count_conflicts = 0;  // of those, the ones on the count slot (its wait is 2 seconds at least)
  long failed_ops = 0;       // reads or operations that ended with a lock code
  long mixed = 0;            // bills read without a code whose fields belong to no one bill
  long alone = 0;            // refreshes that ended in the sole-opener mode: none, the writer stays
};

// Forwards every call to the real file and counts the lock calls and their conflicts.
class CountingFile final : public File {
 public:
  CountingFile(std::unique_ptr<File> f, Counts* counts) : f_(std::move(f)), counts_(counts) {}
  FileCause read_at(uint64_t offset, void* buf, size_t n, size_t* got) override {
    return f_->read_at(offset, buf, n, got);
  }
  FileCause write_at(uint64_t offset, const void* buf, size_t n) override {
    return f_->write_at(offset, buf, n);
  }
  FileCause size(uint64_t* out) override { return f_->size(out); }
  FileCause set_size(uint64_t length) override { return f_->set_size(length); }
  FileCause lock(uint64_t offset, uint64_t length) override {
    const FileCause c = f_->lock(offset, length);
    ++counts_->lock_calls;
    if (c == FileCause::LockViolation || c == FileCause::SharingViolation) {
      ++counts_->lock_conflicts;
      if (offset == kCountOffset && length == 1) ++counts_->count_conflicts;
    }
    return c;
  }
  FileCause unlock(uint64_t offset, uint64_t length) override { return f_->unlock(offset, length); }
  FileCause sync() override { return f_->sync(); }
  void close() override { f_->close(); }
  bool take_lease(std::function<void()> on_break) override { return f_->take_lease(std::move(on_break)); }
  void release_lease() override { f_->release_lease(); }
  FileCause id(FileId* out) override { return f_->id(out); }

 private:
  std::unique_ptr<File> f_;
  Counts* counts_;
};

class CountingFileSystem final : public FileSystem {
 public:
  explicit CountingFileSystem(Counts* counts) : counts_(counts) {}
  FileCause open(std::string_view path, FileAccess access, FileShare share,
                 std::unique_ptr<File>* out) override {
    std::unique_ptr<File> f;
    const FileCause c = real().open(path, access, share, &f);
    if (c == FileCause::None) *out = std::make_unique<CountingFile>(std::move(f), counts_);
    return c;
  }
  FileCause create(std::string_view path, std::unique_ptr<File>* out) override {
    return real().create(path, out);
  }
  FileCause remove(std::string_view path) override { return real().remove(path); }
  FileCause rename(std::string_view from, std::string_view to) override { return real().rename(from, to); }
  FileCause sync_directory_of(std::string_view path) override { return real().sync_directory_of(path); }
  FileCause id_of(std::string_view path, FileId* out) override { return real().id_of(path, out); }

 private:
  static FileSystem& real() { return posix_file_system(); }
  Counts* counts_;
};

void die(const std::string& what) {
  std::fprintf(stderr, "soak_bench: %s\n", what.c_str());
  std::exit(1);
}

double now_s() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Bill k: its amount is k, its channel and remark follow from k, so a read that mixes two bills
// shows.
Bill bill_of(int k) {
  static const char* const kChannels[] = {"支付宝", "微信", "银行卡"};
  return {0,
          k % 2 ? "支出" : "收入",
          static_cast<double>(k),
          kChannels[k % 3],
          45000 + k / 100.0,
          "备注" + std::to_string(k)};
}

bool whole(const Bill& b) {
  const Bill want = bill_of(static_cast<int>(b.amount));
  return b.type == want.type && b.channel == want.channel && b.time == want.time && b.remark == want.remark;
}

// Opens without a time limit (an open takes the whole file for a moment, which a busy writer seldom
// leaves free), then sets the wait time 0 for what is counted.
void open_ledger(const std::string& path) {
  set_db_wait_time(-1);
  const Text name(path);
  if (!call_command(db_open, {name.value()}).lo) die("cannot open " + path);
  set_db_wait_time(0);
}

// The writer opens first and says so on `ready`: from then on neither side can be alone with the
// files, and both run the full protocol.
void writer(const std::string& path, double until, int first_amount, int ready, int done, Counts* c) {
  open_ledger(path);
  if (write(ready, "r", 1) != 1) die("pipe");
  std::mt19937 rng(7);
  int next = first_amount;
  while (now_s() < until) {
    DbCode rc = DbCode::Ok;
    const uint32_t pick = rng() % 16;
    if (pick < 8) {
      std::vector<int32_t> serials;
      rc = append_bills({bill_of(next++)}, &serials);
    } else if (pick < 15) {
      const int32_t n = call_command(db_record_count, {}).int_payload();
      if (n > 0)
        call_command(db_go_to, {Value::of_int(1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(n)))});
      call_command(db_delete, {});
      rc = db_last_error();
    } else {
      call_command(db_purge, {});
      rc = db_last_error();
    }
    ++c->ops;
    if (is_lock_conflict(rc)) ++c->failed_ops;
  }
  char byte = 0;
  if (read(done, &byte, 1) != 1) die("pipe");  // open until the reader is done
  call_command(db_close, {});
}

void reader(const std::string& path, double until, Counts* c) {
  open_ledger(path);
  Bill b;
  while (now_s() < until) {
    const int32_t n = call_command(db_record_count, {}).int_payload();
    if (is_lock_conflict(db_last_error())) ++c->failed_ops;
    call_command(db_go_first, {});
    for (int32_t k = 0; k < n; ++k) {
      b.remark.clear();
      if (read_current_bill(&b)) die("a field of a kind a bill does not take");
      ++c->records;
      const DbCode read = db_last_error();
      if (is_lock_conflict(read)) {
        ++c->failed_ops;
      } else if (read == DbCode::Ok && !whole(b)) {
        ++c->mixed;
      }
      std::ignore = db_skip_within(n, read);  // a failed step shows in the next read
    }
    ++c->ops;
    if (db_current_alone()) ++c->alone;
  }
  call_command(db_close, {});
}

void print(const char* side, const Counts& c) {
  std::printf(
      "BENCH soak_%s ops=%ld records=%ld lock_calls=%ld lock_conflicts=%ld count_slot_conflicts=%ld "
      "failed_ops=%ld mixed=%ld "
      "alone=%ld\n",
      side, c.ops, c.records, c.lock_calls, c.lock_conflicts, c.count_conflicts, c.failed_ops, c.mixed,
      c.alone);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3;
  int records = 2000;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) {
      records = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: soak_bench [--seconds S] [--records N]\n");
      return 2;
    }
  }
  // The full protocol from the start: the two-process state is what is measured, not the moment
  // before the second open, and no lease is taken before the fork (the child has no lease watcher).
  std::ignore = set_sole_opener_allowed(false);
  char tmpl[] = "/tmp/pn_soak_XXXXXX";
  if (!mkdtemp(tmpl)) die("cannot make a temporary directory");
  const std::string path = std::string(tmpl) + "/data.kdb";
  if (create_database(path, bill_table_fields()) != DbCode::Ok) die("cannot create the ledger");
  open_ledger(path);
  std::vector<Bill> group;
  for (int k = 1; k <= records; ++k) group.push_back(bill_of(k));
  std::vector<int32_t> serials;
  if (append_bills(group, &serials) != DbCode::Ok) die("cannot fill the ledger");
  call_command(db_close, {});

  auto* counts = static_cast<Counts*>(
      mmap(nullptr, 2 * sizeof(Counts), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  if (counts == MAP_FAILED) die("mmap");
  new (&counts[0]) Counts;
  new (&counts[1]) Counts;
  int ready[2], done[2];
  if (pipe(ready) != 0 || pipe(done) != 0) die("pipe");
  const double until = now_s() + seconds;
  const pid_t pid = fork();
  if (pid < 0) die("fork");
  if (pid == 0) {
    close(ready[0]);
    close(done[1]);  // the reader's end: gone with the reader, so a reader that dies ends the wait
    CountingFileSystem fs(&counts[1]);
    set_store_file_system(&fs);
    writer(path, until, records + 1, ready[1], done[0], &counts[1]);
    std::fflush(stdout);
    _exit(0);
  }
  CountingFileSystem fs(&counts[0]);
  set_store_file_system(&fs);
  close(ready[1]);
  close(done[0]);
  char byte = 0;
  if (read(ready[0], &byte, 1) != 1) die("the writer did not open the ledger");
  reader(path, until, &counts[0]);
  if (write(done[1], "d", 1) != 1) die("pipe");
  int status = 0;
  waitpid(pid, &status, 0);
  set_store_file_system(nullptr);
  print("reader", counts[0]);
  print("writer", counts[1]);
  std::string rm = "rm -rf '" + std::string(tmpl) + "'";
  return std::system(rm.c_str()) == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
