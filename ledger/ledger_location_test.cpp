#include "ledger/ledger_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "ledger/bill.h"
#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

// A per-user install: the program directory is writable; HOME and XDG_DATA_HOME are set too.
LedgerEnvironment per_user() {
  LedgerEnvironment env;
  env.program_dir = "/home/ann/.local/lib/pennacle";
  env.program_dir_writable = true;
  env.xdg_data_home = "/home/ann/data";
  env.home = "/home/ann";
  return env;
}

// The packaged program: the same user, the program under /usr.
LedgerEnvironment packaged() {
  LedgerEnvironment env = per_user();
  env.program_dir = "/usr/lib/pennacle";
  env.program_dir_writable = false;
  return env;
}

std::string file_of(const LedgerEnvironment& env) {
  Result<LedgerLocation> where = ledger_location_in(env);
  EXPECT_TRUE(where.ok()) << where.status().message();
  return where.ok() ? where->file : std::string();
}

std::string failure_of(const LedgerEnvironment& env) {
  Result<LedgerLocation> where = ledger_location_in(env);
  EXPECT_FALSE(where.ok()) << where->file;
  return where.ok() ? std::string() : where.status().message();
}

TEST(LedgerLocation, AWritableProgramDirectoryKeepsTheLedgerBesideTheProgram) {
  Result<LedgerLocation> where = ledger_location_in(per_user());
  ASSERT_TRUE(where.ok()) << where.status().message();
  EXPECT_EQ(where->dir, "/home/ann/.local/lib/pennacle");
  EXPECT_EQ(where->file, "/home/ann/.local/lib/pennacle/data.kdb");
  EXPECT_EQ(where->file_gbk, where->file);
  EXPECT_TRUE(where->beside_program);
  // A program in the root directory: "/data.kdb", as the program directory "" always gave.
  LedgerEnvironment root = per_user();
  root.program_dir = "";
  EXPECT_EQ(file_of(root), "/data.kdb");
}

TEST(LedgerLocation, AProgramDirectoryItCannotWriteSendsTheLedgerToTheUsersDataDirectory) {
  Result<LedgerLocation> where = ledger_location_in(packaged());
  ASSERT_TRUE(where.ok()) << where.status().message();
  EXPECT_EQ(where->file, "/home/ann/data/pennacle/data.kdb");
  EXPECT_FALSE(where->beside_program);

  LedgerEnvironment env = packaged();
  env.xdg_data_home = "/home/ann/data//";
  EXPECT_EQ(file_of(env), "/home/ann/data/pennacle/data.kdb");
  // Unset, empty or relative XDG_DATA_HOME: ~/.local/share.
  for (const std::optional<std::string>& xdg :
       {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>("data")}) {
    env.xdg_data_home = xdg;
    EXPECT_EQ(file_of(env), "/home/ann/.local/share/pennacle/data.kdb") << xdg.value_or("(unset)");
  }
}

TEST(LedgerLocation, PennacleHomeWinsOverBothPlaces) {
  for (LedgerEnvironment env : {per_user(), packaged()}) {
    env.pennacle_home = "/srv/books/";
    Result<LedgerLocation> where = ledger_location_in(env);
    ASSERT_TRUE(where.ok()) << where.status().message();
    EXPECT_EQ(where->file, "/srv/books/data.kdb");
    EXPECT_FALSE(where->beside_program);
    // Set but empty is not set.
    env.pennacle_home = "";
    EXPECT_NE(file_of(env), "/data.kdb");
  }
}

TEST(LedgerLocation, APlaceItCannotTellIsAClearFailure) {
  LedgerEnvironment env = packaged();
  env.pennacle_home = "books";
  EXPECT_EQ(failure_of(env), "PENNACLE_HOME must be an absolute path, not 'books'");

  env = packaged();
  env.xdg_data_home.reset();
  env.home.reset();
  EXPECT_NE(failure_of(env).find("neither XDG_DATA_HOME nor HOME"), std::string::npos);
  env.home = "relative/home";
  EXPECT_NE(failure_of(env).find("set PENNACLE_HOME"), std::string::npos);
}

TEST(LedgerLocation, ThePathGoesToTheStoreInGbk) {
  LedgerEnvironment env = packaged();
  env.pennacle_home = "/srv/\xE8\xB4\xA6\xE6\x9C\xAC";  // "账本" in UTF-8
  Result<LedgerLocation> where = ledger_location_in(env);
  ASSERT_TRUE(where.ok()) << where.status().message();
  EXPECT_EQ(where->file, "/srv/\xE8\xB4\xA6\xE6\x9C\xAC/data.kdb");
  EXPECT_EQ(where->file_gbk, "/srv/\xD5\xCB\xB1\xBE/data.kdb");
  // An emoji has no GBK form: refused, never stored as '?'.
  env.pennacle_home = "/srv/\xF0\x9F\x98\x80";
  EXPECT_NE(failure_of(env).find("GBK cannot hold"), std::string::npos);
}

// The running program's own environment: the variables as they are set now.
class RunningLedgerLocation : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    for (const char* name : {"PENNACLE_HOME", "XDG_DATA_HOME", "HOME"}) {
      const char* v = std::getenv(name);
      saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name, value->c_str(), 1);
      } else {
        ::unsetenv(name);
      }
    }
    StoreTest::TearDown();
  }
  // A location in the test's directory, as the packaged program would have it.
  LedgerLocation in_data_home(const std::string& sub) {
    LedgerEnvironment env = packaged();
    env.xdg_data_home = path(sub);
    Result<LedgerLocation> where = ledger_location_in(env);
    EXPECT_TRUE(where.ok()) << where.status().message();
    return where.ok() ? *where : LedgerLocation{};
  }

  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST_F(RunningLedgerLocation, ReadsTheProgramDirectoryAndTheVariables) {
  ::unsetenv("PENNACLE_HOME");
  Result<LedgerEnvironment> env = current_ledger_environment();
  ASSERT_TRUE(env.ok()) << env.status().message();
  char exe[4096];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  const std::string program(exe, static_cast<size_t>(n));
  EXPECT_EQ(env->program_dir, program.substr(0, program.rfind('/')));
  // The test runs from its build folder, which this user can write.
  EXPECT_TRUE(env->program_dir_writable);
  EXPECT_FALSE(env->pennacle_home.has_value());

  ::setenv("PENNACLE_HOME", path("home").c_str(), 1);
  Result<LedgerLocation> where = ledger_location();
  ASSERT_TRUE(where.ok()) << where.status().message();
  EXPECT_EQ(where->file, path("home") + "/data.kdb");
}

TEST_F(RunningLedgerLocation, TheFirstStartMakesThePrivateDirectoryAndAnEmptyLedgerOnce) {
  const LedgerLocation where = in_data_home("share");
  ASSERT_EQ(where.dir, path("share") + "/pennacle");
  Result<bool> made = make_first_ledger(where);
  ASSERT_TRUE(made.ok()) << made.status().message();
  EXPECT_TRUE(*made);
  struct stat st {};
  ASSERT_EQ(::stat(where.dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(path("share").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // It is the ledger's table, and a bill stored in it survives the next start.
  ASSERT_TRUE(open_record_file(where.file, false).ok());
  ASSERT_TRUE(current_bill_table().ok());
  std::vector<int32_t> serials;
  ASSERT_EQ(append_bills({{0, std::string(expense_type()), 3.5, "x", 45000, "r"}}, &serials), DbCode::Ok);
  call_command(db_close, {});
  made = make_first_ledger(where);
  ASSERT_TRUE(made.ok()) << made.status().message();
  EXPECT_FALSE(*made);
  ASSERT_TRUE(open_record_file(where.file, true).ok());
  EXPECT_EQ(call_command(db_record_count, {}).int_payload(), 1);
  call_command(db_close, {});
}

TEST_F(RunningLedgerLocation, NothingIsMadeBesideTheProgramOrOverACutShortRestore) {
  LedgerLocation beside = in_data_home("beside");
  beside.beside_program = true;
  Result<bool> made = make_first_ledger(beside);
  ASSERT_TRUE(made.ok());
  EXPECT_FALSE(*made);
  EXPECT_NE(::access(beside.dir.c_str(), F_OK), 0);

  const LedgerLocation where = in_data_home("restoring");
  ASSERT_TRUE(make_ledger_directory(where).ok());
  std::ofstream(where.file + ".restoring") << "staged";
  made = make_first_ledger(where);
  ASSERT_FALSE(made.ok());
  EXPECT_NE(made.status().message().find("kdbtool restore SNAPSHOT " + where.file), std::string::npos);
  EXPECT_NE(::access(where.file.c_str(), F_OK), 0);
}

TEST_F(RunningLedgerLocation, ADirectoryThatCannotBeMadeNamesThePart) {
  std::ofstream(path("plain")) << "a file, not a directory";
  const LedgerLocation where = in_data_home("plain/share");
  Result<bool> made = make_first_ledger(where);
  ASSERT_FALSE(made.ok());
  EXPECT_NE(made.status().message().find(path("plain/share") + ": cannot make the ledger's directory"),
            std::string::npos)
      << made.status().message();
}

}  // namespace
}  // namespace pennacle
