#include "runtime/outside.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "runtime/fatal.h"
#include "runtime/host_libraries.h"
#include "testing/fatal_capture.h"

namespace pennacle {
namespace {

using FatalCatcher = testing::CatchFatal;
using testing::FatalCaught;

Word word(const void* p) { return reinterpret_cast<Word>(p); }

Word fake_locale_info(std::span<const Word> a) {
  char* buf = reinterpret_cast<char*>(a[2]);
  std::memcpy(buf, "7", 2);
  return 2;
}
Word only_in_user32(std::span<const Word>) { return 32; }
Word only_in_shell32(std::span<const Word>) { return 99; }
Word numbered(std::span<const Word> a) { return a.empty() ? 0 : a[0] + 1; }

constexpr HostExport kProgramDirKernel[] = {{"GetLocaleInfoA", 0, fake_locale_info}};
constexpr HostExport kUser32[] = {{"OnlyInUser32", 0, only_in_user32}};
constexpr HostExport kShell32[] = {{"OnlyInUser32", 0, only_in_shell32}};
constexpr HostExport kNumbered[] = {{"Numbered", 12, numbered}};

TEST(OutsideTable, FirstCallResolvesAndLaterCallsReuse) {
  OutsideFunction& entry = outside_entry(kGetLocaleInfoA);
  const uint64_t before = host_load_count("kernel32.dll");
  char buf[5] = "    ";
  Word n = call_outside(kGetLocaleInfoA, {0, kLocaleITime, word(buf), 4});
  EXPECT_EQ(n, 2u);
  EXPECT_TRUE(std::strcmp(buf, "1") == 0 || std::strcmp(buf, "0") == 0) << buf;
  const Word address = entry.address.load();
  ASSERT_NE(address, 0u);
  EXPECT_NE(entry.module.load(), 0u);
  EXPECT_EQ(host_load_count("kernel32.dll"), before + 1);
  call_outside(kGetLocaleInfoA, {0, kLocaleITime, word(buf), 4});
  EXPECT_EQ(entry.address.load(), address);
  EXPECT_EQ(host_load_count("kernel32.dll"), before + 1) << "a resolved entry loads nothing again";
}

TEST(OutsideTable, EveryDeclaredEntryResolvesInTheBuiltInLibraries) {
  for (int i = 0; i < kOutsideEntryCount; ++i) {
    Word a = resolve_outside(outside_entry(i));
    EXPECT_TRUE(is_host_address(a)) << "entry " << i;
    EXPECT_LT(a, Word{1} << 32) << "entry " << i;
  }
  // The eleven copy entries are one function.
  EXPECT_EQ(outside_entry(kRtlMoveMemoryFirst).address.load(),
            outside_entry(kRtlMoveMemoryLast).address.load());
}

TEST(OutsideTable, ProgramDirectoryComesFirstForNamesWithoutPath) {
  const std::string saved = library_directory();
  set_library_directory("/opt/pennacle-test");
  register_host_library("/opt/pennacle-test/kernel32.dll", kProgramDirKernel);

  OutsideFunction local{"kernel32.dll", "GetLocaleInfoA"};
  char buf[5] = "    ";
  EXPECT_EQ(call_host_address(resolve_outside(local), {{0, kLocaleITime, word(buf), 4}}), 2u);
  EXPECT_STREQ(buf, "7");

  // A full path is never looked for in the program directory.
  OutsideFunction system_copy{"/usr/lib/kernel32.dll", "GetLocaleInfoA"};
  register_host_library("/usr/lib/kernel32.dll", kProgramDirKernel);
  EXPECT_NE(resolve_outside(system_copy), 0u);
  EXPECT_EQ(host_load_count("/opt/pennacle-test/kernel32.dll"), 1u);

  // Nothing in the program directory: the library of that file name.
  OutsideFunction ole{"oleaut32.dll", "VariantTimeToSystemTime"};
  EXPECT_EQ(resolve_outside(ole), resolve_outside(outside_entry(kVariantTimeToSystemTime)));

  // Found in the program directory but not exporting the name: no second try elsewhere.
  FatalCatcher catcher;
  OutsideFunction missing{"kernel32.dll", "GetDateFormatA"};
  try {
    resolve_outside(missing);
    ADD_FAILURE() << "no fatal report";
  } catch (const FatalCaught& f) {
    EXPECT_EQ(f.report.message, "无法找到指定DLL库文件“kernel32.dll”中的输出命令“GetDateFormatA”");
    EXPECT_EQ(f.report.code, 0);
  }
  set_library_directory(saved);
}

TEST(OutsideTable, DefaultLibrariesAreSearchedInOrderAndMissesFreed) {
  register_host_library("User32.dll", kUser32);
  register_host_library("Shell32.dll", kShell32);
  const uint64_t gdi_before = host_load_count("gdi32.dll");
  const uint64_t kernel_before = host_load_count("kernel32.dll");
  const uint64_t shell_before = host_load_count("shell32.dll");
  OutsideFunction f{"", "OnlyInUser32"};
  EXPECT_EQ(call_host_address(resolve_outside(f), {}), 32u);
  EXPECT_EQ(host_load_count("kernel32.dll"), kernel_before + 1);
  EXPECT_EQ(host_load_count("gdi32.dll"), gdi_before + 1);
  EXPECT_EQ(host_module_handle("gdi32.dll"), 0u) << "a library without the function is freed again";
  EXPECT_EQ(host_load_count("shell32.dll"), shell_before) << "the search stops at the first library";
  EXPECT_NE(host_module_handle("user32.dll"), 0u) << "the library that has it stays loaded";
  EXPECT_EQ(f.module.load(), host_module_handle("USER32"));
}

TEST(OutsideTable, NothingFoundEndsWithTheMessageNamingTheFunction) {
  FatalCatcher catcher;
  OutsideFunction f{"", "NoSuchFunction"};
  try {
    resolve_outside(f);
    ADD_FAILURE() << "no fatal report";
  } catch (const FatalCaught& c) {
    EXPECT_EQ(c.report.message, "无法找到指定DLL库文件中的输出命令“NoSuchFunction”");
    EXPECT_EQ(
        fatal_box_text(c.report),
        "运行时出错!\r\n\r\n错误信息：无法找到指定DLL库文件中的输出命令“NoSuchFunction”\r\n\r\n0, 0\r\n");
  }
  EXPECT_EQ(f.address.load(), 0u);
  EXPECT_EQ(host_module_handle("gdi32.dll"), 0u);

  OutsideFunction g{"nowhere.dll", "Anything"};
  try {
    resolve_outside(g);
    ADD_FAILURE() << "no fatal report";
  } catch (const FatalCaught& c) {
    EXPECT_EQ(c.report.message, "无法找到指定DLL库文件“nowhere.dll”中的输出命令“Anything”");
  }
}

TEST(OutsideTable, OrdinalNamesUseTheLowSixteenBits) {
  register_host_library("numbered.dll", kNumbered);
  OutsideFunction by_ordinal{"numbered.dll", "#12"};
  EXPECT_EQ(call_host_address(resolve_outside(by_ordinal), {{41}}), 42u);
  OutsideFunction wrapped{"numbered.dll", "#65548"};  // 0x1000C
  EXPECT_EQ(resolve_outside(wrapped), resolve_outside(by_ordinal));
  FatalCatcher catcher;
  OutsideFunction not_a_number{"numbered.dll", "#1x"};
  EXPECT_THROW(resolve_outside(not_a_number), FatalCaught);
}

TEST(OutsideTable, ConcurrentResolutionAgreesAndKeepsOneReference) {
  register_host_library("racy.dll", kNumbered);
  for (int round = 0; round < 20; ++round) {
    OutsideFunction f{"racy.dll", "Numbered"};
    Word a1 = 0, a2 = 0;
    std::thread t1([&] { a1 = resolve_outside(f); });
    std::thread t2([&] { a2 = resolve_outside(f); });
    t1.join();
    t2.join();
    EXPECT_EQ(a1, a2);
    EXPECT_NE(a1, 0u);
    Word m = f.module.load();
    ASSERT_NE(m, 0u);
    host_free_library(m);
    EXPECT_EQ(host_module_handle("racy.dll"), 0u) << "round " << round << ": a reference leaked";
    f.module.store(0);
  }
}

TEST(HostLoader, ModuleHandlesFollowLoadAndFree) {
  register_host_library("skinhost.dll", kNumbered);
  EXPECT_EQ(host_module_handle("skinhost.dll"), 0u);
  Word m1 = host_load_library("SkinHost.DLL");
  ASSERT_NE(m1, 0u);
  EXPECT_LT(m1, Word{1} << 32);
  EXPECT_FALSE(is_host_address(m1));
  EXPECT_EQ(host_load_library("skinhost"), m1) << "the extension is implied";
  EXPECT_EQ(host_module_handle("skinhost.dll"), m1);
  Word p1 = host_proc_address(m1, "Numbered");
  EXPECT_EQ(host_proc_address(m1, "Numbered"), p1);
  EXPECT_EQ(host_proc_address(m1, uint16_t{12}), p1);
  EXPECT_EQ(host_proc_address(m1, "numbered"), 0u) << "export names are case-sensitive";
  EXPECT_EQ(host_proc_address(m1, uint16_t{0}), 0u);
  EXPECT_EQ(call_host_address(p1, {{1}}), 2u);
  EXPECT_EQ(call_host_address(p1 + 1, {{1}}), 0u);
  EXPECT_EQ(call_host_address(m1, {{1}}), 0u);
  host_free_library(m1);
  EXPECT_EQ(host_module_handle("skinhost.dll"), m1) << "still one reference";
  host_free_library(m1);
  EXPECT_EQ(host_module_handle("skinhost.dll"), 0u);
  EXPECT_EQ(host_proc_address(m1, "Numbered"), 0u) << "a freed module answers nothing";
  EXPECT_EQ(host_load_library("absent.dll"), 0u);
  EXPECT_NE(host_module_handle("KERNEL32.DLL"), 0u) << "kernel32 is always loaded";
}

// ---- kernel32 and oleaut32 through their exports ----------------------------------------------

Word kernel(std::string_view name, std::initializer_list<Word> args) {
  Word m = host_module_handle("kernel32.dll");
  Word p = host_proc_address(m, name);
  EXPECT_NE(p, 0u) << name;
  return call_host_address(p, std::span<const Word>(args.begin(), args.size()));
}

TEST(Kernel32, GetProcAddressAndLoadLibraryThroughTheirExports) {
  const char name[] = "kernel32.dll";
  Word m = kernel("LoadLibraryA", {word(name)});
  EXPECT_EQ(m, kernel("GetModuleHandleA", {word(name)}));
  const char proc[] = "RtlMoveMemory";
  EXPECT_EQ(kernel("GetProcAddress", {m, word(proc)}), host_proc_address(m, proc));
  EXPECT_EQ(kernel("GetProcAddress", {m, 8}), host_proc_address(m, proc)) << "a small name is an ordinal";
  EXPECT_NE(kernel("GetModuleHandleA", {0}), 0u) << "no name: the program itself";
  EXPECT_EQ(kernel("LoadLibraryA", {0}), 0u);
  EXPECT_EQ(kernel("FreeLibrary", {m}), 1u);
}

TEST(Kernel32, VirtualAllocReservesBelowFourGiBAndReleasesWholeReservations) {
  Word a = kernel("VirtualAlloc", {0, 100000, kMemCommit | kMemReserve, kPageExecuteReadWrite});
  ASSERT_NE(a, 0u);
  EXPECT_LT(a + 100000, Word{1} << 32);
  auto* p = reinterpret_cast<unsigned char*>(a);
  EXPECT_EQ(p[0] | p[99999], 0) << "committed memory starts zero-filled";
  p[99999] = 7;
  EXPECT_EQ(kernel("VirtualFree", {a, 100000, kMemRelease}), 0u) << "release takes size 0";
  EXPECT_EQ(kernel("VirtualFree", {a + 4096, 0, kMemRelease}), 0u) << "only the base releases";
  EXPECT_EQ(kernel("VirtualFree", {a, 0, kMemRelease}), 1u);
  EXPECT_EQ(kernel("VirtualFree", {a, 0, kMemRelease}), 0u) << "released twice";

  // At a wanted address: exactly there, and refused while something lies there.
  Word at = kernel("VirtualAlloc", {a, 65536, kMemCommit | kMemReserve, kPageExecuteReadWrite});
  ASSERT_EQ(at, a);
  EXPECT_EQ(kernel("VirtualAlloc", {a, 65536, kMemCommit | kMemReserve, kPageExecuteReadWrite}), 0u);
  EXPECT_EQ(kernel("VirtualFree", {a, 0, kMemRelease}), 1u);

  // Reserve, then commit part of it.
  Word r = kernel("VirtualAlloc", {0, 65536, kMemReserve, kPageNoAccess});
  ASSERT_NE(r, 0u);
  EXPECT_EQ(kernel("VirtualAlloc", {r + 4100, 10, kMemCommit, kPageReadWrite}), r + 4096);
  reinterpret_cast<char*>(r)[4100] = 1;
  EXPECT_EQ(kernel("VirtualAlloc", {r + 65536, 10, kMemCommit, kPageReadWrite}), 0u) << "outside it";
  EXPECT_EQ(kernel("VirtualFree", {r, 0, kMemRelease}), 1u);

  EXPECT_EQ(kernel("VirtualAlloc", {0, 0, kMemCommit | kMemReserve, kPageReadWrite}), 0u);
  EXPECT_EQ(kernel("VirtualAlloc", {0, 4096, 0x80000, kPageReadWrite}), 0u);
  EXPECT_EQ(kernel("VirtualAlloc", {0, 4096, kMemCommit, 0x12345}), 0u);
  EXPECT_EQ(kernel("VirtualAlloc", {0xFFFF0000, 0x20000, kMemReserve, kPageReadWrite}), 0u)
      << "would cross 4 GiB";
}

TEST(Kernel32, TextCopies) {
  char set[] = "abc";
  EXPECT_EQ(kernel("lstrcpyn", {word(set), word(set), 0}), word(set)) << "count 0 gives the target back";
  EXPECT_STREQ(set, "abc");
  char dst[8] = "xxxxxxx";
  EXPECT_EQ(kernel("lstrcpynA", {word(dst), word("hello"), 4}), word(dst));
  EXPECT_STREQ(dst, "hel");
  EXPECT_EQ(kernel("lstrcpynA", {word(dst), word("hi"), 8}), word(dst));
  EXPECT_STREQ(dst, "hi");
  EXPECT_EQ(kernel("lstrcpynA", {0, word("hi"), 8}), 0u);
  EXPECT_EQ(kernel("lstrcpynA", {word(dst), word("zz"), static_cast<Word>(-1)}), word(dst));
  EXPECT_STREQ(dst, "hi") << "a negative count copies nothing";
  char buf[] = "0123456789";
  kernel("RtlMoveMemory", {word(buf + 2), word(buf), 5});
  EXPECT_STREQ(buf, "0101234789");
}

TEST(Kernel32, DateAndTimePictures) {
  const SystemTime st{2020, 8, 2, 11, 14, 3, 5, 0};
  char buf[50];
  auto date = [&](const char* pic, Word size = 50) {
    return kernel("GetDateFormatA", {0, 0, word(&st), word(pic), word(buf), size});
  };
  auto time = [&](const char* pic, Word flags = 0) {
    return kernel("GetTimeFormatA", {0, flags, word(&st), word(pic), word(buf), 50});
  };
  EXPECT_EQ(date("yyyy年MM月dd日 "), 16u);
  EXPECT_STREQ(buf, "2020年08月11日 ");
  EXPECT_EQ(date("d/M/yy y"), 11u);
  EXPECT_STREQ(buf, "11/8/20 20");
  // Trail bytes 0x4D 'M', 0x6D 'm', 0x74 't', 0x64 'd' stay inside their characters.
  date("盡yyyy瞞MM瞭dd癲 hh");
  EXPECT_STREQ(buf, "盡2020瞞08瞭11癲 hh") << "time letters are text to the date formatter";
  time("盡hh瞞mm瞭ss癲 yyyy");
  EXPECT_STREQ(buf, "盡02瞞03瞭05癲 yyyy");
  date("'dd''MM' dd");
  EXPECT_STREQ(buf, "dd'MM 11");
  time("HH:mm:ss");
  EXPECT_STREQ(buf, "14:03:05");
  time("hh:mm:ss");
  EXPECT_STREQ(buf, "02:03:05");
  time("h:m:s");
  EXPECT_STREQ(buf, "2:3:5");
  time("hh:mm:ss", kTimeNoSeconds);
  EXPECT_STREQ(buf, "02:03");
  time("hh时mm分ss秒", kTimeNoSeconds);
  EXPECT_STREQ(buf, "02时03分") << "the seconds go with their unit";
  time("h:mm:ss tt", kTimeNoSeconds);
  EXPECT_STREQ(buf, "2:03 PM") << "the separator before the seconds goes";
  time("hhmmss", kTimeNoSeconds);
  EXPECT_STREQ(buf, "0203");
  time("hh:mm", kTimeForce24Hour);
  EXPECT_STREQ(buf, "14:03");

  EXPECT_EQ(date("yyyy-MM-dd", 0), 11u) << "size 0 asks for the size";
  EXPECT_EQ(date("yyyy-MM-dd", 10), 0u) << "no room for the terminator";
  const SystemTime bad_day{2021, 2, 0, 29, 0, 0, 0, 0};
  EXPECT_EQ(kernel("GetDateFormatA", {0, 0, word(&bad_day), word("yyyy"), word(buf), 50}), 0u);
  const SystemTime bad_hour{2021, 2, 0, 28, 24, 0, 0, 0};
  EXPECT_EQ(kernel("GetTimeFormatA", {0, 0, word(&bad_hour), word("hh"), word(buf), 50}), 0u);
  EXPECT_EQ(kernel("GetDateFormatA", {0, 1, word(&st), word("yyyy"), word(buf), 50}), 0u)
      << "a picture and a date-style flag together";
}

TEST(Kernel32, TimeFormatSettingFollowsLcTime) {
  locale_t c24 = newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
  locale_t c12 = newlocale(LC_ALL_MASK, "en_US.UTF-8", nullptr);
  if (c24 == nullptr || c12 == nullptr) GTEST_SKIP() << "run scripts/install-deps.sh to generate the locales";
  char buf[5] = "    ";
  locale_t old = uselocale(c12);
  EXPECT_EQ(kernel("GetLocaleInfoA", {0, kLocaleITime, word(buf), 4}), 2u);
  EXPECT_STREQ(buf, "0");
  uselocale(c24);
  EXPECT_EQ(kernel("GetLocaleInfoA", {0, kLocaleITime, word(buf), 4}), 2u);
  EXPECT_STREQ(buf, "1");
  EXPECT_EQ(kernel("GetLocaleInfoA", {0, kLocaleITime, word(buf), 1}), 0u) << "too small";
  EXPECT_EQ(kernel("GetLocaleInfoA", {0, kLocaleITime, 0, 0}), 2u);
  EXPECT_EQ(kernel("GetLocaleInfoA", {0, 0x7777, word(buf), 4}), 0u);
  uselocale(old);
  freelocale(c12);
  freelocale(c24);
}

TEST(OleAut32, VariantTimeToSystemTime) {
  Word m = host_load_library("oleaut32.dll");
  Word p = host_proc_address(m, "VariantTimeToSystemTime");
  SystemTime st{};
  auto convert = [&](double t) { return call_host_address(p, {{double_word(t), word(&st)}}); };
  ASSERT_EQ(convert(0.0), 1u);
  EXPECT_EQ(st.year, 1899);
  EXPECT_EQ(st.month, 12);
  EXPECT_EQ(st.day, 30);
  EXPECT_EQ(st.day_of_week, 6);  // a Saturday
  ASSERT_EQ(convert(44054.0 + (14 * 3600 + 3 * 60 + 5) / 86400.0), 1u);
  EXPECT_EQ(st.year, 2020);
  EXPECT_EQ(st.month, 8);
  EXPECT_EQ(st.day, 11);
  EXPECT_EQ(st.day_of_week, 2);
  EXPECT_EQ(st.hour, 14);
  EXPECT_EQ(st.minute, 3);
  EXPECT_EQ(st.second, 5);
  ASSERT_EQ(convert(-1.25), 1u);
  EXPECT_EQ(st.day, 29);
  EXPECT_EQ(st.hour, 6);
  ASSERT_EQ(convert(61.0 - 1e-9), 1u) << "rounds to the second, into the next day";
  EXPECT_EQ(st.month, 3);  // 1900 has no 29 February
  EXPECT_EQ(st.day, 1);
  EXPECT_EQ(st.hour, 0);
  EXPECT_EQ(st.second, 0);
  ASSERT_EQ(convert(-657434.0), 1u);
  EXPECT_EQ(st.year, 100);
  EXPECT_EQ(convert(-657435.0), 0u);
  EXPECT_EQ(convert(2958466.0), 0u);
  EXPECT_EQ(convert(std::nan("")), 0u);
  EXPECT_EQ(call_host_address(p, {{double_word(1.0), 0}}), 0u);
}

}  // namespace
}  // namespace pennacle
