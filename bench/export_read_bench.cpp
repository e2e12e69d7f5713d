// Reading an Alipay export of N rows into bills (read_bill_export, no ledger), against a plain walk
// that only splits the same bytes into lines and cells. The export is the one import_bench imports.
// One line per figure: BENCH <figure> ours_ns=<best> peer=<name> peer_ns=<best> ratio=<ours/peer>,
// and the best processor time of the read alone.
//
//   export_read_bench [--records N] [--rounds R]
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/export_rows.h"
#include "ledger/import/bill_exports.h"
#include "ledger/import/export_samples.h"

using namespace pennacle;

namespace {

double now_ns(clockid_t clock = CLOCK_MONOTONIC) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// The floor: every line and cell boundary found, nothing converted or kept.
size_t plain_walk(const std::string& bytes) {
  size_t cells = 0;
  for (char c : bytes) cells += c == ',' || c == '\n';
  return cells;
}

}  // namespace

int main(int argc, char** argv) {
  int n = 100000, rounds = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) {
      n = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: export_read_bench [--records N] [--rounds R]\n");
      return 2;
    }
  }
  if (n < 1 || rounds < 1) {
    std::fprintf(stderr, "export_read_bench: --records and --rounds must be at least 1\n");
    return 1;
  }
  std::vector<testing::SampleRow> rows;
  rows.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) rows.push_back(bench::export_row(i));
  const std::string bytes = testing::alipay_2023_csv(rows);
  double ours = 1e300, ours_cpu = 1e300, peer = 1e300;
  size_t sink = 0;
  for (int r = 0; r < rounds; ++r) {
    double t0 = now_ns();
    const double c0 = now_ns(CLOCK_PROCESS_CPUTIME_ID);
    Result<ExportRead> read = read_bill_export(bytes, ExportOptions{});
    ours_cpu = std::min(ours_cpu, now_ns(CLOCK_PROCESS_CPUTIME_ID) - c0);
    ours = std::min(ours, now_ns() - t0);
    if (!read.ok() || read->bills.size() != static_cast<size_t>(n) || !read->errors.empty()) {
      std::fprintf(stderr, "export_read_bench: the export did not read as %d bills\n", n);
      return 1;
    }
    t0 = now_ns();
    sink += plain_walk(bytes);
    peer = std::min(peer, now_ns() - t0);
  }
  std::printf("export_read_bench: %d rows, %zu bytes, best of %d (%zu)\n", n, bytes.size(), rounds,
              sink / static_cast<size_t>(rounds));
  std::printf("BENCH read_bill_export ours_ns=%.0f peer=plain_walk peer_ns=%.0f ratio=%.3f\n", ours, peer,
              ours / peer);
  // Processor time: what the read costs when other programs share the cores.
  std::printf("BENCH read_bill_export_cpu ours_ns=%.0f\n", ours_cpu);
  return 0;
}
