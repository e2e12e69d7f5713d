#include "loader/memory_module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <deque>
#include <vector>

#include "loader/host_code_runner.h"
#include "loader/image_builder.h"
#include "platform/low_memory.h"

namespace pennacle {
namespace {

// ---- A host module the test images import from --------------------------------------------

struct EntryCall {
  Word instance, reason, reserved;
};
std::vector<EntryCall> g_entry_calls;
Word g_entry_result = 1;

Word host_entry(std::span<const Word> a) {
  g_entry_calls.push_back({a[0], a[1], a[2]});
  return g_entry_result;
}
Word host_add(std::span<const Word> a) { return a[0] + a[1]; }
Word host_answer(std::span<const Word>) { return 42; }
// Sees all ten arguments: the ones not passed must be 0.
Word host_sum_all(std::span<const Word> a) {
  Word sum = 0;
  for (Word w : a) sum = sum * 3 + w;
  return a.size() == 10 ? sum : 0;
}

constexpr HostExport kTestHost[] = {
    {"Entry", 1, host_entry},
    {"Add", 2, host_add},
    {"Answer", 7, host_answer},
    {"SumAll", 8, host_sum_all},
};

// ---- Images ---------------------------------------------------------------------------------

struct Layout {
  uint32_t base = 0x31000000;
  bool dll = true;
  bool imports = true;
  bool entry = true;
  const char* module = "testhost.dll";
};

// Three sections: code (entry point and exports, each an import jump), data holding absolute
// addresses (relocated) and words under other relocation types (left alone), and the tables.
struct TestImage {
  BuiltImage built;
  uint32_t data_words_rva = 0;   // four HIGHLOW-relocated words
  uint32_t other_words_rva = 0;  // two words under HIGH and LOW entries
  std::vector<uint32_t> original_words;

  ByteSet bytes() const {
    return ByteSet({reinterpret_cast<const char*>(built.bytes.data()), built.bytes.size()});
  }
};

TestImage make_image(const Layout& l = {}) {
  ImageBuilder::Options o;
  o.image_base = l.base;
  o.dll = l.dll;
  ImageBuilder b(o);
  const int text = b.add_section(".text", pe::kSectionCode | pe::kSectionExecute | pe::kSectionRead);
  const int data = b.add_section(".data", pe::kSectionInitData | pe::kSectionRead | pe::kSectionWrite);
  const int tables = b.add_section(".rdata", pe::kSectionInitData | pe::kSectionRead);
  if (l.imports) {
    const uint32_t entry = b.append_import_jump(text, b.import_by_name(l.module, "Entry"));
    b.append_u32(text, 0xCCCCCCCC);
    const uint32_t add = b.append_import_jump(text, b.import_by_name(l.module, "Add"));
    const uint32_t answer = b.append_import_jump(text, b.import_by_ordinal(l.module, 7));
    const uint32_t sum = b.append_import_jump(text, b.import_by_name(l.module, "SumAll"));
    if (l.entry) b.set_entry_point(text, entry);
    b.add_export("Add", text, add);
    b.add_export("Answer", text, answer);
    b.add_export("SumAll", text, sum);
    b.place_imports(tables);
  } else {
    const uint8_t ret[] = {0xC3};
    b.add_export("Plain", text, b.append(text, ret));
  }
  const uint8_t not_a_jump[] = {0x55, 0x8B, 0xEC, 0x33, 0xC0, 0x5D, 0xC3};
  b.add_export("NotJump", text, b.append(text, not_a_jump));
  b.add_forwarder("Fwd", "other.Function");

  TestImage t;
  const uint32_t words = b.append_address(data, text, 0);
  b.append_address(data, text, 5);
  b.append_address(data, data, 0);
  b.append_address(data, tables, 16);
  const uint32_t others = b.append_u32(data, 0x11112222);
  b.append_u32(data, 0x33334444);
  b.add_relocation(data, others, pe::kRelHigh);
  b.add_relocation(data, others + 4, pe::kRelLow);
  b.place_exports(tables, "test.dll");
  b.place_relocations(tables);
  t.built = b.build();
  t.data_words_rva = t.built.section_rva[1] + words;
  t.other_words_rva = t.built.section_rva[1] + others;
  for (int i = 0; i < 6; ++i) {
    uint32_t w;
    std::memcpy(&w, t.built.bytes.data() + t.built.section_file_offset[1] + words + 4 * i, 4);
    t.original_words.push_back(w);
  }
  return t;
}

template <typename T>
void poke(std::vector<uint8_t>& bytes, size_t at, T value) {
  ASSERT_LE(at + sizeof(T), bytes.size());
  std::memcpy(bytes.data() + at, &value, sizeof(T));
}

size_t optional_field(const BuiltImage& b, size_t offset) {
  return b.nt_offset + offsetof(pe::NtHeaders32, OptionalHeader) + offset;
}
size_t directory_at(const BuiltImage& b, int index) {
  return optional_field(b, offsetof(pe::OptionalHeader32, DataDirectory)) + 8 * static_cast<size_t>(index);
}
size_t file_header_field(const BuiltImage& b, size_t offset) {
  return b.nt_offset + offsetof(pe::NtHeaders32, FileHeader) + offset;
}

// The file offset of an RVA inside one of the image's sections.
size_t file_offset(const BuiltImage& b, uint32_t rva) {
  for (size_t i = b.section_rva.size(); i-- > 0;) {
    if (rva >= b.section_rva[i]) return b.section_file_offset[i] + (rva - b.section_rva[i]);
  }
  ADD_FAILURE() << "rva not in a section";
  return 0;
}

uint32_t read32(Word address) {
  uint32_t v;
  std::memcpy(&v, reinterpret_cast<const void*>(address), 4);
  return v;
}

bool reserved(Word address) {
  uintptr_t base;
  size_t size;
  return low_find(address, &base, &size);
}

class MemoryModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { register_host_library("testhost.dll", kTestHost); }
  void SetUp() override {
    g_entry_calls.clear();
    g_entry_result = 1;
  }
  // Loads into a fresh module that the fixture unloads at the end.
  MemoryModule& fresh() { return modules_.emplace_back(); }
  void TearDown() override {
    for (auto& m : modules_) m.Unload();
  }
  std::deque<MemoryModule> modules_;
};

// Every refusal of a malformed image: load false, base 0, the preferred base not left reserved.
void expect_refused(const std::vector<uint8_t>& bytes, uint32_t preferred, const char* what) {
  MemoryModule m;
  ByteSet set({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  EXPECT_FALSE(m.LoadFromMemory(set.block())) << what;
  EXPECT_EQ(m.BaseAddress(), 0u) << what;
  EXPECT_EQ(m.FindExport("Add"), 0u) << what;
  EXPECT_FALSE(reserved(preferred)) << what;
  m.Unload();
}

// ---- Headers --------------------------------------------------------------------------------

TEST_F(MemoryModuleTest, ShortForeignAndTruncatedHeadersAreRefused) {
  const TestImage t = make_image({.base = 0x31100000});
  const auto& good = t.built.bytes;
  expect_refused({}, 0x31100000, "empty byte set");
  expect_refused({good.begin(), good.begin() + 63}, 0x31100000, "63 bytes");
  auto bad = good;
  bad[0] = 'Z';
  expect_refused(bad, 0x31100000, "not MZ");
  expect_refused({good.begin(), good.begin() + t.built.nt_offset + 247}, 0x31100000, "NT headers cut short");
  bad = good;
  poke<int32_t>(bad, 0x3C, -16);
  expect_refused(bad, 0x31100000, "negative e_lfanew");
  bad = good;
  poke<int32_t>(bad, 0x3C, 0x7FFFFFF0);
  expect_refused(bad, 0x31100000, "e_lfanew far past the end");
  bad = good;
  poke<uint32_t>(bad, t.built.nt_offset, 0x4551);
  expect_refused(bad, 0x31100000, "not PE");
  bad = good;
  poke<uint16_t>(bad, file_header_field(t.built, offsetof(pe::ImageFileHeader, Characteristics)), pe::kDll);
  expect_refused(bad, 0x31100000, "not an executable image");
  bad = good;
  poke<uint16_t>(bad, file_header_field(t.built, offsetof(pe::ImageFileHeader, SizeOfOptionalHeader)), 240);
  expect_refused(bad, 0x31100000, "64-bit optional header size");
}

TEST_F(MemoryModuleTest, SectionsMustLieWithinTheBytes) {
  const TestImage t = make_image({.base = 0x31200000});
  auto bad = t.built.bytes;
  poke<uint16_t>(bad, file_header_field(t.built, offsetof(pe::ImageFileHeader, NumberOfSections)), 0xFFFF);
  expect_refused(bad, 0x31200000, "section table past the end");
  bad = t.built.bytes;
  const size_t raw = t.built.section_header_offset(2) + offsetof(pe::SectionHeader, SizeOfRawData);
  poke<uint32_t>(bad, raw, 0x1000);
  expect_refused(bad, 0x31200000, "section data past the end");
  bad = t.built.bytes;
  poke<uint32_t>(bad, t.built.section_header_offset(1) + offsetof(pe::SectionHeader, PointerToRawData),
                 0xFFFFFF00);
  expect_refused(bad, 0x31200000, "section data offset wrapping around");
  bad = t.built.bytes;
  poke<uint32_t>(bad, optional_field(t.built, offsetof(pe::OptionalHeader32, SizeOfHeaders)), 0x100000);
  expect_refused(bad, 0x31200000, "headers larger than the bytes");
}

TEST_F(MemoryModuleTest, ImageSizeFollowsTheSectionsNotSizeOfImage) {
  const TestImage t = make_image();
  MemoryModule m;
  ByteSet set = t.bytes();
  ASSERT_TRUE(m.ParseHeaders(reinterpret_cast<Word>(byteset_view(set.block()).data()), set.size()));
  EXPECT_EQ(m.ImageSize(), 0x4000u);  // headers page and three one-page sections
  auto big = t.built.bytes;
  poke<uint32_t>(big, t.built.section_header_offset(1) + offsetof(pe::SectionHeader, VirtualSize), 0x12345);
  poke<uint32_t>(big, optional_field(t.built, offsetof(pe::OptionalHeader32, SizeOfImage)), 0x1000);
  ASSERT_TRUE(m.ParseHeaders(reinterpret_cast<Word>(big.data()), big.size()));
  EXPECT_EQ(m.ImageSize(), 0x2000u + 0x13000u);

  EXPECT_EQ(MemoryModule::AlignUp(0, 0x1000), 0u);
  EXPECT_EQ(MemoryModule::AlignUp(1, 0x1000), 0x1000u);
  EXPECT_EQ(MemoryModule::AlignUp(0x1000, 0x1000), 0x1000u);
  EXPECT_EQ(MemoryModule::AlignUp(0x1001, 0x200), 0x1200u);
  EXPECT_EQ(MemoryModule::AlignUp(10, 3), 12u);
  EXPECT_EQ(MemoryModule::AlignUp(5, 0), 0u);
  EXPECT_EQ(MemoryModule::AlignUp(0xFFFFFFFF, 0x1000), 0u);
}

TEST_F(MemoryModuleTest, ImagesThatCannotBePlacedAreRefused) {
  const TestImage t = make_image({.base = 0x31300000});
  auto bad = t.built.bytes;
  poke<uint32_t>(bad, optional_field(t.built, offsetof(pe::OptionalHeader32, SectionAlignment)), 0);
  expect_refused(bad, 0x31300000, "section alignment 0");
  bad = t.built.bytes;
  poke<uint32_t>(bad, t.built.section_header_offset(2) + offsetof(pe::SectionHeader, VirtualSize),
                 0xFFFFF000);
  expect_refused(bad, 0x31300000, "section reaching past 4 GiB");
  bad = t.built.bytes;
  poke<uint32_t>(bad, t.built.section_header_offset(2) + offsetof(pe::SectionHeader, VirtualAddress),
                 0x7FFFF000);
  expect_refused(bad, 0x31300000, "image larger than the limit");
}

// ---- Placement and relocation ---------------------------------------------------------------

TEST_F(MemoryModuleTest, AtThePreferredBaseEveryRelocationAddsZero) {
  const TestImage t = make_image({.base = 0x31400000});
  ByteSet set = t.bytes();
  MemoryModule& m = fresh();
  ASSERT_TRUE(m.LoadFromMemory(set.block()));
  ASSERT_EQ(m.BaseAddress(), 0x31400000u);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(read32(m.BaseAddress() + t.data_words_rva + 4 * i), t.original_words[i]);
  EXPECT_EQ(read32(m.BaseAddress() + t.data_words_rva), 0x31401000u);  // .text start, absolute
  EXPECT_EQ(m.EntryPointAddress(), m.BaseAddress() + t.built.entry_rva);
}

TEST_F(MemoryModuleTest, ElsewhereEveryWholeAddressMovesByTheDistanceAndOtherTypesStay) {
  const TestImage t = make_image({.base = 0x31500000});
  ByteSet set = t.bytes();
  MemoryModule& first = fresh();
  ASSERT_TRUE(first.LoadFromMemory(set.block()));
  ASSERT_EQ(first.BaseAddress(), 0x31500000u);
  MemoryModule& second = fresh();
  ASSERT_TRUE(second.LoadFromMemory(set.block()));  // the base is taken by the first
  const Word base = second.BaseAddress();
  ASSERT_NE(base, 0u);
  ASSERT_NE(base, 0x31500000u);
  const uint32_t delta = static_cast<uint32_t>(base) - 0x31500000u;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(read32(base + t.data_words_rva + 4 * i), t.original_words[i] + delta);
  EXPECT_EQ(read32(base + t.other_words_rva), 0x11112222u);
  EXPECT_EQ(read32(base + t.other_words_rva + 4), 0x33334444u);
  // The relocated jump of the second image reaches its own slots: its exports work.
  EXPECT_EQ(CallExport(second.FindExport("Add"), {40, 2}), 42u);
  EXPECT_EQ(read32(second.FindExport("Add") + 2), base + t.built.slot_rva[1]);
}

TEST_F(MemoryModuleTest, MalformedRelocationTablesAreRefused) {
  const TestImage t = make_image({.base = 0x31600000});
  uint32_t reloc_rva;
  std::memcpy(&reloc_rva, t.built.bytes.data() + directory_at(t.built, pe::kDirBaseReloc), 4);
  const size_t block = file_offset(t.built, reloc_rva);

  auto bad = t.built.bytes;
  poke<uint32_t>(bad, block + 4, 0);  // SizeOfBlock 0 would never move the walk on
  expect_refused(bad, 0x31600000, "block size 0");
  bad = t.built.bytes;
  poke<uint32_t>(bad, block + 4, 0x10000);
  expect_refused(bad, 0x31600000, "block past the table");
  bad = t.built.bytes;
  poke<uint32_t>(bad, block, 0x7FFFF000);  // the page the entries fix lies outside the image
  expect_refused(bad, 0x31600000, "entry outside the image");
  bad = t.built.bytes;
  poke<uint32_t>(bad, directory_at(t.built, pe::kDirBaseReloc) + 4, 0xFFFFFF00);
  expect_refused(bad, 0x31600000, "table past the image");
}

// ---- Imports --------------------------------------------------------------------------------

TEST_F(MemoryModuleTest, ImportsByNameAndOrdinalAreBound) {
  const TestImage t = make_image({.base = 0x31700000});
  ByteSet set = t.bytes();
  MemoryModule& m = fresh();
  ASSERT_TRUE(m.LoadFromMemory(set.block()));
  for (uint32_t slot : t.built.slot_rva) EXPECT_TRUE(is_host_address(read32(m.BaseAddress() + slot)));
  EXPECT_EQ(CallExport(m.FindExport("Add"), {2, 3}), 5u);
  EXPECT_EQ(CallExport(m.FindExport("Answer"), {}), 42u);  // bound by ordinal 7
  // Ten arguments reach the callee, the ones not given as 0.
  EXPECT_EQ(CallExport(m.FindExport("SumAll"), {1, 2}), (1u * 3 + 2) * 6561u);
}

TEST_F(MemoryModuleTest, ImageWithoutImportsLoadsWithoutBinding) {
  const TestImage t = make_image({.base = 0x31800000, .imports = false});
  ByteSet set = t.bytes();
  MemoryModule& m = fresh();
  ASSERT_TRUE(m.LoadFromMemory(set.block()));
  EXPECT_EQ(m.BaseAddress(), 0x31800000u);
  EXPECT_NE(m.FindExport("Plain"), 0u);
  EXPECT_TRUE(g_entry_calls.empty());
}

TEST_F(MemoryModuleTest, ModuleThatCannotBeFoundRefusesTheLoad) {
  const TestImage t = make_image({.base = 0x31900000, .module = "nosuch.dll"});
  expect_refused(t.built.bytes, 0x31900000, "unknown module");
  EXPECT_TRUE(g_entry_calls.empty());
}

TEST_F(MemoryModuleTest, FunctionThatCannotBeFoundRefusesTheLoad) {
  TestImage t = make_image({.base = 0x31A00000});
  // Rename the "Add" import to one the host module lacks.
  auto& bytes = t.built.bytes;
  const auto it = std::search(bytes.begin(), bytes.end(), std::begin("SumAll"), std::end("SumAll") - 1);
  ASSERT_NE(it, bytes.end());
  *it = 'X';
  expect_refused(bytes, 0x31A00000, "unknown function");
}

TEST_F(MemoryModuleTest, MalformedImportTablesAreRefused) {
  const TestImage t = make_image({.base = 0x31B00000});
  uint32_t import_rva;
  std::memcpy(&import_rva, t.built.bytes.data() + directory_at(t.built, pe::kDirImport), 4);
  const size_t desc = file_offset(t.built, import_rva);
  auto bad = t.built.bytes;
  poke<uint32_t>(bad, desc + offsetof(pe::ImportDescriptor, Name), 0x7FFF0000);
  expect_refused(bad, 0x31B00000, "module name outside the image");
  bad = t.built.bytes;
  poke<uint32_t>(bad, desc + offsetof(pe::ImportDescriptor, FirstThunk), 0x3FFE);  // slot runs off the end
  expect_refused(bad, 0x31B00000, "address table outside the image");
  bad = t.built.bytes;
  poke<uint32_t>(bad, directory_at(t.built, pe::kDirImport), 0x3FF0);  // descriptor cut by the end
  expect_refused(bad, 0x31B00000, "descriptor outside the image");
  bad = t.built.bytes;
  const size_t slot = file_offset(t.built, t.built.slot_rva[1]);
  poke<uint32_t>(bad, slot, 0x3FFF);  // a name whose hint lies at the last bytes of the image
  expect_refused(bad, 0x31B00000, "import name outside the image");
}

// ---- Entry point ----------------------------------------------------------------------------

TEST_F(MemoryModuleTest, EntryPointIsCalledWithAttachAndANullInstance) {
  const TestImage t = make_image({.base = 0x31C00000});
  ByteSet set = t.bytes();
  MemoryModule& m = fresh();
  ASSERT_TRUE(m.LoadFromMemory(set.block()));
  ASSERT_EQ(g_entry_calls.size(), 1u);
  EXPECT_EQ(g_entry_calls[0].instance, 0u);
  EXPECT_EQ(g_entry_calls[0].reason, 1u);
  EXPECT_EQ(g_entry_calls[0].reserved, 0u);
}

TEST_F(MemoryModuleTest, EntryPointThatRefusesIsToldOfTheDetachAndTheMemoryReleased) {
  const TestImage t = make_image({.base = 0x31D00000});
  g_entry_result = 0;
  expect_refused(t.built.bytes, 0x31D00000, "entry point refuses");
  ASSERT_EQ(g_entry_calls.size(), 2u);
  EXPECT_EQ(g_entry_calls[0].reason, 1u);
  EXPECT_EQ(g_entry_calls[1].reason, 0u);
  EXPECT_EQ(g_entry_calls[1].instance, 0u);
}

TEST_F(MemoryModuleTest, EntryPointIsOnlyCalledForADll) {
  const TestImage t = make_image({.base = 0x31E00000, .dll = false});
  ByteSet set = t.bytes();
  MemoryModule& m = fresh();
  ASSERT_TRUE(m.LoadFromMemory(set.block()));
  EXPECT_TRUE(g_entry_calls.empty());
}

TEST_F(MemoryModuleTest, DllWithoutEntryPointLoads) {
  const TestImage t = make_image({.base = 0x31F00000, .entry = false});
  ByteSet set = t.bytes();
  MemoryModule& m = fresh();
  ASSERT_TRUE(m.LoadFromMemory(set.block()));
  EXPECT_EQ(m.BaseAddress(), 0x31F00000u);
  EXPECT_TRUE(g_entry_calls.empty());
}

TEST_F(MemoryModuleTest, EntryPointThatIsNotAnImportJumpRefuses) {
  TestImage t = make_image({.base = 0x32000000});
  auto& bytes = t.built.bytes;
  bytes[file_offset(t.built, t.built.entry_rva)] = 0x90;  // the jump's first byte becomes a nop
  expect_refused(bytes, 0x32000000, "entry point not runnable");
}

// ---- Lifetime ------------------------------------------------------------------------------

TEST_F(MemoryModuleTest, SecondLoadIsRefusedAndChangesNothing) {
  const TestImage t = make_image({.base = 0x32100000});
  ByteSet set = t.bytes();
  MemoryModule& m = fresh();
  ASSERT_TRUE(m.LoadFromMemory(set.block()));
  const Word add = m.FindExport("Add");
  EXPECT_FALSE(m.LoadFromMemory(set.block()));
  EXPECT_EQ(m.BaseAddress(), 0x32100000u);
  EXPECT_EQ(m.FindExport("Add"), add);
  EXPECT_EQ(g_entry_calls.size(), 1u);
}

TEST_F(MemoryModuleTest, ReleaseHeadersKeepsTheImageMapped) {
  const TestImage t = make_image({.base = 0x32200000});
  ByteSet set = t.bytes();
  MemoryModule& m = fresh();
  ASSERT_TRUE(m.LoadFromMemory(set.block()));
  const Word add = m.FindExport("Add");
  const MemoryModule copy = m.CopyModule();
  m.ReleaseHeaders();
  EXPECT_TRUE(m.sections().empty());
  EXPECT_EQ(m.FindExport("Add"), 0u);  // no export directory left to read
  EXPECT_EQ(m.BaseAddress(), 0x32200000u);
  EXPECT_TRUE(reserved(0x32200000));
  EXPECT_EQ(CallExport(add, {1, 1}), 2u);
  EXPECT_EQ(g_entry_calls.size(), 1u);  // no detach
  // The copy has headers of its own.
  EXPECT_EQ(copy.FindExport("Add"), add);
  EXPECT_EQ(copy.sections().size(), 3u);
}

TEST_F(MemoryModuleTest, UnloadDetachesAndReleases) {
  const TestImage t = make_image({.base = 0x32300000});
  ByteSet set = t.bytes();
  MemoryModule m;
  ASSERT_TRUE(m.LoadFromMemory(set.block()));
  const Word add = m.FindExport("Add");
  m.Unload();
  EXPECT_EQ(m.BaseAddress(), 0u);
  EXPECT_EQ(m.EntryPointAddress(), 0u);
  EXPECT_FALSE(reserved(0x32300000));
  ASSERT_EQ(g_entry_calls.size(), 2u);
  EXPECT_EQ(g_entry_calls[1].reason, 0u);
  EXPECT_EQ(CallExport(add, {1, 1}), 0u);      // nothing mapped there any more
  EXPECT_TRUE(m.LoadFromMemory(set.block()));  // an unloaded object can load again
  m.Unload();
}

// ---- Exports and the code runner ---------------------------------------------------------

TEST_F(MemoryModuleTest, ExportLookupIsExactAndCaseSensitive) {
  const TestImage t = make_image({.base = 0x32400000});
  ByteSet set = t.bytes();
  MemoryModule& m = fresh();
  EXPECT_EQ(m.FindExport("Add"), 0u);  // nothing loaded
  ASSERT_TRUE(m.LoadFromMemory(set.block()));
  EXPECT_NE(m.FindExport("Add"), 0u);
  EXPECT_EQ(m.FindExport("add"), 0u);
  EXPECT_EQ(m.FindExport("ADD"), 0u);
  EXPECT_EQ(m.FindExport("Ad"), 0u);
  EXPECT_EQ(m.FindExport("Addx"), 0u);
  EXPECT_EQ(m.FindExport(""), 0u);
  EXPECT_EQ(m.FindExport(std::string_view("Add\0", 4)), 0u);
}

TEST_F(MemoryModuleTest, ForwardedExportsAreNotRecognised) {
  const TestImage t = make_image({.base = 0x32500000});
  ByteSet set = t.bytes();
  MemoryModule& m = fresh();
  ASSERT_TRUE(m.LoadFromMemory(set.block()));
  const Word fwd = m.FindExport("Fwd");
  ASSERT_NE(fwd, 0u);  // the address of the forwarder text, not of another module's function
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(fwd)), "other.Function");
  EXPECT_EQ(CallExport(fwd, {}), 0u);
}

TEST_F(MemoryModuleTest, MalformedExportDirectoriesFindNothing) {
  const TestImage t = make_image({.base = 0x32600000});
  uint32_t export_rva;
  std::memcpy(&export_rva, t.built.bytes.data() + directory_at(t.built, pe::kDirExport), 4);
  const size_t dir = file_offset(t.built, export_rva);
  auto check = [&](std::vector<uint8_t> bytes, const char* what) {
    ByteSet set({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
    MemoryModule m;
    ASSERT_TRUE(m.LoadFromMemory(set.block())) << what;
    EXPECT_EQ(m.FindExport("Add"), 0u) << what;
    m.Unload();
  };
  auto bad = t.built.bytes;
  poke<uint32_t>(bad, dir + offsetof(pe::ExportDirectory, NumberOfNames), 0x40000000);
  check(bad, "name count past the image");
  bad = t.built.bytes;
  poke<uint32_t>(bad, dir + offsetof(pe::ExportDirectory, NumberOfFunctions), 0);
  check(bad, "ordinal beyond the function count");
  bad = t.built.bytes;
  poke<uint32_t>(bad, dir + offsetof(pe::ExportDirectory, AddressOfFunctions), 0x3FFE);
  check(bad, "function array past the image");
  bad = t.built.bytes;
  poke<uint32_t>(bad, directory_at(t.built, pe::kDirExport), 0x3FF0);
  check(bad, "directory past the image");
}

TEST_F(MemoryModuleTest, RunnerRunsOnlyImportJumpsInsideMappedImages) {
  const TestImage t = make_image({.base = 0x32700000});
  ByteSet set = t.bytes();
  MemoryModule& m = fresh();
  ASSERT_TRUE(m.LoadFromMemory(set.block()));
  EXPECT_EQ(CallExport(m.FindExport("NotJump"), {1, 2}), 0u);
  EXPECT_EQ(CallExport(0, {1, 2}), 0u);
  EXPECT_EQ(CallExport(m.BaseAddress() + 0x3FFC, {1, 2}), 0u);  // six bytes would run off the image
  const uint8_t host_jump[6] = {0xFF, 0x25, 0, 0, 0, 0};        // outside every image
  EXPECT_EQ(CallExport(reinterpret_cast<Word>(host_jump), {1, 2}), 0u);
  // A jump whose slot holds no procedure token.
  const Word add = m.FindExport("Add");
  const uint32_t slot = read32(add + 2);
  const uint32_t token = read32(slot);
  std::memcpy(reinterpret_cast<void*>(static_cast<Word>(slot)), "\x12\x34\x56\x78", 4);
  EXPECT_EQ(CallExport(add, {1, 2}), 0u);
  std::memcpy(reinterpret_cast<void*>(static_cast<Word>(slot)), &token, 4);
  EXPECT_EQ(CallExport(add, {1, 2}), 3u);
}

}  // namespace
}  // namespace pennacle
