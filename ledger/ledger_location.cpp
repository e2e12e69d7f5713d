#include "ledger/ledger_location.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ledger/bill.h"
#include "platform/gbk.h"
#include "platform/program_path.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

constexpr const char* kFileName = "/data.kdb";

std::optional<std::string> variable(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::optional<std::string>(v) : std::nullopt;
}

bool absolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

// Without its trailing slashes; the root directory is "".
std::string trimmed(std::string dir) {
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  return dir;
}

// The directory the rule picks, before it is checked against GBK.
Result<std::string> chosen_directory(const LedgerEnvironment& env, bool* beside_program) {
  *beside_program = false;
  if (env.pennacle_home && !env.pennacle_home->empty()) {
    if (!absolute(*env.pennacle_home))
      return Status::invalid("PENNACLE_HOME must be an absolute path, not '" + *env.pennacle_home + "'");
    return trimmed(*env.pennacle_home);
  }
  if (env.program_dir_writable) {
    *beside_program = true;
    return env.program_dir;
  }
  // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules say.
  if (env.xdg_data_home && absolute(*env.xdg_data_home)) return trimmed(*env.xdg_data_home) + "/pennacle";
  if (env.home && absolute(*env.home)) return trimmed(*env.home) + "/.local/share/pennacle";
  return Status::invalid(
      "the program's directory is not writable and neither XDG_DATA_HOME nor HOME names an absolute "
      "directory for the ledger: set PENNACLE_HOME to the directory that holds data.kdb");
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

Result<LedgerLocation> ledger_location_in(const LedgerEnvironment& env) {
  LedgerLocation where;
  Result<std::string> dir = chosen_directory(env, &where.beside_program);
  if (!dir.ok()) return dir.status();
  where.dir = std::move(*dir);
  where.file = where.dir + kFileName;
  std::optional<std::string> gbk = utf8_to_gbk(where.file);
  if (!gbk) {
    return Status::invalid(where.file +
                           ": the ledger's path has characters GBK cannot hold; set PENNACLE_HOME to a "
                           "directory whose name has none");
  }
  where.file_gbk = std::move(*gbk);
  return where;
}

Result<LedgerEnvironment> current_ledger_environment() {
  const ProgramDirectory program = read_program_directory();
  if (!program.ok) {
    return Status::invalid("cannot tell the program's directory (" + gbk_to_utf8_lossy(program.error) +
                           "): set PENNACLE_HOME to the directory that holds data.kdb");
  }
  LedgerEnvironment env;
  env.program_dir = program.utf8;
  const std::string dir = program.utf8.empty() ? std::string("/") : program.utf8;
  // The effective ids, as an open for writing would be judged.
  env.program_dir_writable = ::faccessat(AT_FDCWD, dir.c_str(), W_OK, AT_EACCESS) == 0;
  env.pennacle_home = variable("PENNACLE_HOME");
  env.xdg_data_home = variable("XDG_DATA_HOME");
  env.home = variable("HOME");
  return env;
}

Result<LedgerLocation> ledger_location() {
  Result<LedgerEnvironment> env = current_ledger_environment();
  if (!env.ok()) return env.status();
  return ledger_location_in(*env);
}

Status make_ledger_directory(const LedgerLocation& where) {
  // Each missing component in turn, from the root down; one that exists may be anything a
  // directory can be reached through (a link), which the ledger's own open then judges.
  for (size_t at = 1; at <= where.dir.size(); ++at) {
    if (at != where.dir.size() && where.dir[at] != '/') continue;
    const std::string part = where.dir.substr(0, at);
    if (::mkdir(part.c_str(), 0700) == 0 || errno == EEXIST) continue;
    return Status::invalid(part + ": cannot make the ledger's directory: " + std::strerror(errno));
  }
  return Status();
}

Result<bool> make_first_ledger(const LedgerLocation& where) {
  if (where.beside_program || exists(where.file)) return false;
  if (exists(where.file + ".restoring")) {
    return Status::invalid(where.file + " is missing and a restore into it was cut short: run the same " +
                           "'kdbtool restore SNAPSHOT " + where.file + "' again");
  }
  if (Status made = make_ledger_directory(where); !made.ok()) return made;
  const DbCode rc = create_database(where.file_gbk, bill_table_fields());
  if (rc == DbCode::Ok) return true;
  // Another start made it in the meantime.
  if (exists(where.file)) return false;
  return store_status(rc).with_context(where.file + ": cannot make an empty ledger");
}

}  // namespace pennacle
