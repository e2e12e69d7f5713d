// The real program under a virtual X display, driven by real input events (xdotool): add bills,
// answer the boxes, delete a row from the popup menu, make the summary and read the clipboard,
// close the window; then the file and the exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/date_format.h"
#include "app/ledger.h"
#include "app/ledger_test_support.h"
#include "ledger/bill.h"
#include "platform/gbk.h"
#include "runtime/convert.h"
#include "store/record_store.h"

#ifdef PENNACLE_BINARY

namespace pennacle {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::append_bill;
using testing::stored_bills;

std::string utf8(std::string_view gbk) { return gbk_to_utf8_lossy(gbk); }

bool on_path(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Output of a shell command (stdout only).
std::string run(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::vector<std::string> words(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// Polls `probe` until it gives a value, for at most `limit`.
template <class F>
auto wait_for(F probe, std::chrono::milliseconds limit = 20s) -> decltype(probe()) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto v = probe();
    if (v || std::chrono::steady_clock::now() > end) return v;
    std::this_thread::sleep_for(50ms);
  }
}

// A virtual X display of its own for the test's lifetime.
bool accepts_clients(const std::string& display) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  const bool ok = xcb_connection_has_error(c) == 0;
  xcb_disconnect(c);
  return ok;
}

class VirtualDisplay {
 public:
  // Tries display numbers until an Xvfb of ours listens on one.
  VirtualDisplay() {
    for (int n = 90 + getpid() % 400; n < 90 + getpid() % 400 + 40 && name_.empty(); ++n) {
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
      if (fs::exists(socket) || fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
      const std::string display = ":" + std::to_string(n);
      pid_ = fork();
      if (pid_ == 0) {
        execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset",
               static_cast<char*>(nullptr));
        _exit(127);
      }
      bool ended = false;
      auto ready = [&] {
        ended = ended || waitpid(pid_, nullptr, WNOHANG) == pid_;
        return ended || accepts_clients(display);
      };
      // Another program may take the number at the same moment: ours then ends at once, and the
      // clients that connected met the other server.
      bool up = wait_for(ready, 10s) && !ended;
      if (up) {
        std::this_thread::sleep_for(500ms);
        up = waitpid(pid_, nullptr, WNOHANG) == 0;
      }

      if (up) {
        name_ = display;
      } else {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
      }
    }
  }
  ~VirtualDisplay() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

class Program {
 public:
  // Starts `binary` with `dir` as its current directory on `display`.
  Program(const std::string& binary, const std::string& dir, const std::string& display) {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("DISPLAY", display.c_str(), 1);
      setenv("QT_QPA_PLATFORM", "xcb", 1);
      // A bare display has no session bus. Without an address libdbus would start one by forking
      // the program from a Qt thread, and that child can hang under the sanitizers, the window
      // never showing; an address it cannot use makes Qt go on without a bus at once.
      setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
      if (chdir(dir.c_str()) != 0) _exit(126);
      execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  // The exit status once the process has ended (within the limit), or nothing.
  std::optional<int> exit_status(std::chrono::milliseconds limit = 20s) {
    if (!status_) {
      status_ = wait_for(
          [this]() -> std::optional<int> {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) != pid_) return std::nullopt;
            return WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
          },
          limit);
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// As a window manager does for the close box: WM_DELETE_WINDOW to the window. The server may drop
// the unread requests of a client that has hung up (it closes a connection as soon as it sees the
// hang-up), so the message is known to be delivered only once a reply to a later request is in.
void ask_to_close(const std::string& display, uint32_t window) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return;
  }
  auto atom = [c](const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t a = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(r);
    return a;
  };
  xcb_client_message_event_t ev{};
  ev.response_type = XCB_CLIENT_MESSAGE;
  ev.format = 32;
  ev.window = window;
  ev.type = atom("WM_PROTOCOLS");
  ev.data.data32[0] = atom("WM_DELETE_WINDOW");
  ev.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  xcb_disconnect(c);
}

// As another X client may do: destroys the window outright (`xdotool windowclose`). A reply to a
// later request tells the destroy was read before the connection goes.
void destroy_window(const std::string& display, uint32_t window) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  if (!xcb_connection_has_error(c)) {
    xcb_destroy_window(c, window);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  }
  xcb_disconnect(c);
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdotool", "xclip"}) {
      if (!on_path(tool)) GTEST_SKIP() << tool << " is missing: run scripts/install-deps.sh";
    }
    ASSERT_FALSE(display_.name().empty()) << "Xvfb did not start";
    setenv("DISPLAY", display_.name().c_str(), 1);
    dir_ = fs::path(PENNACLE_TEST_DIR) / ("e2e-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // The program's directory is where its file is: a copy of the binary in a directory of its own.
    binary_ = (dir_ / "pennacle").string();
    fs::copy_file(PENNACLE_BINARY, binary_);
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  std::string xdo(const std::string& args) { return run("xdotool " + args + " 2>/dev/null"); }
  std::vector<std::string> visible_windows(pid_t pid) {
    return words(xdo("search --onlyvisible --pid " + std::to_string(pid)));
  }
  // A visible window of the program other than `except`.
  std::optional<std::string> other_window(pid_t pid, const std::string& except) {
    return wait_for([&]() -> std::optional<std::string> {
      for (const std::string& w : visible_windows(pid)) {
        if (w != except) return w;
      }
      return std::nullopt;
    });
  }
  void click(const std::string& window, int x, int y, int button = 1) {
    xdo("mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) + " click " +
        std::to_string(button));
    std::this_thread::sleep_for(200ms);
  }
  // Return in a box until it is gone (the focus may not have reached it at the first press).
  void press_return_in(pid_t pid, const std::string& box) {
    for (int attempt = 0; attempt < 10; ++attempt) {
      xdo("windowfocus " + box);
      std::this_thread::sleep_for(200ms);
      xdo("key Return");
      if (wait_for([&] { return visible_windows(pid).size() == 1; }, 1s)) return;
    }
  }
  // Answers the message box that must now be up; gives its title.
  std::string answer_box(pid_t pid, const std::string& main) {
    auto box = other_window(pid, main);
    if (!box) return "(no box)";
    const std::string title = xdo("getwindowname " + *box);
    press_return_in(pid, *box);
    std::this_thread::sleep_for(300ms);  // the refresh that follows
    return title;
  }

  std::string make_data_file() {
    const std::string data = (dir_ / "data.kdb").string();
#ifdef KDBTOOL_BINARY
    EXPECT_EQ(std::system((std::string(KDBTOOL_BINARY) + " create '" + data + "' >/dev/null").c_str()), 0);
#else
    EXPECT_EQ(create_database(data, bill_table_fields()), DbCode::Ok);
#endif
    return data;
  }
  // The program's main window once it is up; a failure names what is there instead.
  std::optional<std::string> main_window(Program& program) {
    auto main = wait_for([&]() -> std::optional<std::string> {
      auto w = words(xdo("search --onlyvisible --name '^Pennacle'"));
      if (w.empty()) return std::nullopt;
      return w[0];
    });
    if (!main) {
      for (const std::string& w : visible_windows(program.pid()))
        ADD_FAILURE() << w << ": " << xdo("getwindowname " + w);
      ADD_FAILURE() << "no main window; exit status "
                    << program.exit_status(std::chrono::milliseconds(100)).value_or(-1);
    }
    return main;
  }

  VirtualDisplay display_;
  fs::path dir_;
  std::string binary_;
};

TEST_F(EndToEnd, AddDeleteSummaryAndClose) {
  const std::string data = make_data_file();
  {
    const Text path(data);
    ASSERT_TRUE(call_command(db_open, {path.value()}).lo);
    const double long_ago = current_date_time() - 400;  // in no period
    ASSERT_TRUE(append_bill("支出", 12.5, "支付宝", long_ago, "午饭"));
    ASSERT_TRUE(append_bill("收入", 3000, "银行卡", long_ago, "工资"));
    ASSERT_TRUE(append_bill("支出", 45, "微信", long_ago, "书"));
    call_command(db_close, {});
  }
  Program program(binary_, dir_.string(), display_.name());
  auto main = main_window(program);
  ASSERT_TRUE(main);
  EXPECT_EQ(xdo("getwindowname " + *main), utf8("Pennacle           --连接数据库成功..."));
  std::this_thread::sleep_for(500ms);

  // Amount 5 into 编辑框_金额, then "添加记录" twice: the inputs keep their contents.
  click(*main, 288, 326);
  xdo("type 5");
  click(*main, 428, 353);
  EXPECT_EQ(answer_box(program.pid(), *main), utf8("信息："));
  click(*main, 428, 353);
  EXPECT_EQ(answer_box(program.pid(), *main), utf8("信息："));

  // A look at the program with a few bills.
  EXPECT_EQ(std::system(("import -display " + display_.name() +
                         " -window root '" PENNACLE_TEST_DIR "/ledger_screenshot.png'")
                            .c_str()),
            0);

  // Select row 1, right click it, "删除记录" (the first entry).
  click(*main, 100, 76);
  click(*main, 100, 76, 3);
  ASSERT_TRUE(other_window(program.pid(), *main)) << "no popup menu";
  xdo("key Down Return");
  wait_for([&] { return visible_windows(program.pid()).size() == 1; });
  std::this_thread::sleep_for(500ms);

  // "生成信息": the report is on the clipboard while its box is up.
  click(*main, 428, 429);
  auto box = other_window(program.pid(), *main);
  ASSERT_TRUE(box) << "no summary box";
  EXPECT_EQ(xdo("getwindowname " + *box), utf8("复制成功"));
  const std::string clip = run("xclip -o -selection clipboard");
  PeriodTotals totals;
  totals.todayExpense = totals.monthExpense = totals.yearExpense = 10;
  EXPECT_EQ(clip, utf8(SummaryText(totals, FormatDateTime(std::nullopt, 0, 1).view())));
  EXPECT_EQ(answer_box(program.pid(), *main), utf8("复制成功"));

  ask_to_close(display_.name(), static_cast<uint32_t>(std::stoul(*main)));
  EXPECT_EQ(program.exit_status(), std::optional<int>(0));

  const std::vector<std::string> expected_remarks = {"工资", "书", "", ""};
#ifdef KDBTOOL_BINARY
  const std::string csv = run(std::string(KDBTOOL_BINARY) + " export '" + data + "'");
  EXPECT_EQ(csv.find(utf8("午饭")), std::string::npos) << csv;
  EXPECT_NE(csv.find(utf8("工资")), std::string::npos) << csv;
#endif
  const Text path(data);
  ASSERT_TRUE(call_command(db_open, {path.value()}).lo);
  const auto bills = stored_bills();
  call_command(db_close, {});
  ASSERT_EQ(bills.size(), 4u);
  for (size_t i = 0; i < bills.size(); ++i) EXPECT_EQ(bills[i].remark, expected_remarks[i]);
  EXPECT_EQ(bills[2].amount, 5.0);
  EXPECT_EQ(bills[2].method, "支付宝");
  EXPECT_EQ(bills[2].number, 4.0);
  EXPECT_EQ(bills[3].number, 5.0);
}

// CPU time the process has used so far, in clock ticks (user and system).
long cpu_ticks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The fields after the command name, which may hold spaces, closed by the last ')'.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  const std::vector<std::string> f = words(stat.substr(close + 1));
  // state is field 3; utime and stime are fields 14 and 15.
  return f.size() > 12 ? std::stol(f[11]) + std::stol(f[12]) : -1;
}

// The window follows the file: bills another program stores (an import of 1,000) show in the list
// and the sums within a second, without an add of the window's own; and while nothing happens,
// the window does not use the CPU (no timer polls the file).
TEST_F(EndToEnd, BillsAnotherProgramStoresShowWithinASecondAndIdleCostsNothing) {
#ifndef KDBTOOL_BINARY
  GTEST_SKIP() << "kdbtool is not built";
#else
  const std::string data = make_data_file();
  Program program(binary_, dir_.string(), display_.name());
  const auto main = main_window(program);
  ASSERT_TRUE(main);
  std::this_thread::sleep_for(1s);  // start-up, its refresh and the skin settle

  const long idle_from = cpu_ticks(program.pid());
  std::this_thread::sleep_for(10s);
  const long idle_ticks = cpu_ticks(program.pid()) - idle_from;
  ASSERT_GE(idle_from, 0);
  // A tick is a hundredth of a second: the caret's blink may cost one or two, a poll costs more.
  EXPECT_LE(idle_ticks, 2) << "the idle window used the CPU";

  const fs::path csv = dir_ / "bills.csv";
  {
    std::ofstream out(csv);
    out << utf8("类型,金额,付款方式,时间,备注") << "\n";
    const std::string now = utf8(FormatDateTime(std::nullopt, 1, 1).str());
    for (int i = 0; i < 1000; ++i)
      out << utf8("支出") << ",0.25," << utf8("微信") << "," << now << ",n" << i << "\n";
  }
  ASSERT_EQ(
      std::system(
          (std::string(KDBTOOL_BINARY) + " import '" + data + "' '" + csv.string() + "' >/dev/null").c_str()),
      0);
  std::this_thread::sleep_for(1s);

  // "生成信息" reports the sums of the list's last rebuild.
  click(*main, 428, 429);
  const auto box = other_window(program.pid(), *main);
  ASSERT_TRUE(box) << "no summary box";
  const std::string clip = run("xclip -o -selection clipboard");
  PeriodTotals totals;
  totals.todayExpense = totals.monthExpense = totals.yearExpense = 250;
  EXPECT_EQ(clip, utf8(SummaryText(totals, FormatDateTime(std::nullopt, 0, 1).view())));
  EXPECT_EQ(answer_box(program.pid(), *main), utf8("复制成功"));
  ask_to_close(display_.name(), static_cast<uint32_t>(std::stoul(*main)));
  EXPECT_EQ(program.exit_status(), std::optional<int>(0));
#endif
}

// One close request closes the window: right after a message box was answered, and with the focus
// in an edit box under the skin. Repeated, since a lost request would show only now and then.
TEST_F(EndToEnd, OneCloseRequestClosesTheWindow) {
  const std::string data = make_data_file();
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Program program(binary_, dir_.string(), display_.name());
    const auto main = main_window(program);
    ASSERT_TRUE(main);
    std::this_thread::sleep_for(200ms);
    if (round % 2 == 0) {
      click(*main, 428, 353);  // "添加记录" without an amount: "数据不能为空!"
      const auto box = other_window(program.pid(), *main);
      ASSERT_TRUE(box) << "no box";
      EXPECT_EQ(xdo("getwindowname " + *box), utf8("信息："));
      press_return_in(program.pid(), *box);
    } else {
      click(*main, 216, 417);  // into the remark box
      xdo("type x");
    }
    ask_to_close(display_.name(), static_cast<uint32_t>(std::stoul(*main)));
    ASSERT_EQ(program.exit_status(10s), std::optional<int>(0));
  }
  const Text path(data);
  ASSERT_TRUE(call_command(db_open, {path.value()}).lo);
  EXPECT_TRUE(stored_bills().empty()) << "an add without an amount wrote a bill";
  call_command(db_close, {});
}

// A window destroyed from outside ends the program as a closed one does, also while a message box
// is up: status 0, and the ledger closed with the bill added before the box.
TEST_F(EndToEnd, AWindowDestroyedFromOutsideEndsTheProgram) {
  const std::string data = make_data_file();
  for (const bool with_box : {false, true}) {
    SCOPED_TRACE(with_box ? "with a box up" : "without a box");
    Program program(binary_, dir_.string(), display_.name());
    const auto main = main_window(program);
    ASSERT_TRUE(main);
    std::this_thread::sleep_for(200ms);
    if (with_box) {
      click(*main, 288, 326);  // amount 5, then "添加记录": "添加成功" stays up
      xdo("type 5");
      click(*main, 428, 353);
      const auto box = other_window(program.pid(), *main);
      ASSERT_TRUE(box) << "no box";
      EXPECT_EQ(xdo("getwindowname " + *box), utf8("信息："));
    }
    destroy_window(display_.name(), static_cast<uint32_t>(std::stoul(*main)));
    ASSERT_EQ(program.exit_status(10s), std::optional<int>(0));
  }
  const Text path(data);
  ASSERT_TRUE(call_command(db_open, {path.value()}).lo);
  const auto bills = stored_bills();
  call_command(db_close, {});
  ASSERT_EQ(bills.size(), 1u);
  EXPECT_EQ(bills[0].amount, 5.0);
}

TEST_F(EndToEnd, WithoutARecordFileOneBoxThenStatusZero) {
  Program program(binary_, dir_.string(), display_.name());
  auto box = wait_for([&]() -> std::optional<std::string> {
    for (const std::string& w : visible_windows(program.pid())) {
      if (xdo("getwindowname " + w) == utf8("信息：")) return w;
    }
    return std::nullopt;
  });
  ASSERT_TRUE(box) << "no box";
  for (int attempt = 0; attempt < 10 && !program.exit_status(1s); ++attempt) {
    xdo("windowfocus " + *box);
    std::this_thread::sleep_for(200ms);
    xdo("key Return");
  }
  EXPECT_EQ(program.exit_status(), std::optional<int>(0));
  EXPECT_FALSE(fs::exists(dir_ / "data.kdb")) << "the program never creates its file";
}

}  // namespace
}  // namespace pennacle

#else

TEST(EndToEnd, NeedsTheProgram) { GTEST_SKIP() << "the program is not built yet"; }

#endif
