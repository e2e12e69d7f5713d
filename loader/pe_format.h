// The parts of the 32-bit Windows image layout (PE32) that the module loader and the image builder
// share. Every structure is read from or written to raw bytes with memcpy, so none of them relies on
// the host's packing beyond the static_asserts below.
#pragma once

#include <cstdint>

namespace pennacle::pe {

inline constexpr uint16_t kDosMagic = 0x5A4D;     // "MZ"
inline constexpr uint32_t kNtSignature = 0x4550;  // "PE\0\0"
inline constexpr uint16_t kMachineI386 = 0x014C;
inline constexpr uint16_t kOptionalMagic32 = 0x010B;

// File header characteristics.
inline constexpr uint16_t kExecutableImage = 0x0002;
inline constexpr uint16_t kMachine32Bit = 0x0100;
inline constexpr uint16_t kDll = 0x2000;

// Data directory indexes.
inline constexpr int kDirExport = 0;
inline constexpr int kDirImport = 1;
inline constexpr int kDirBaseReloc = 5;
inline constexpr int kDirectoryCount = 16;

// Base relocation entry types (top four bits of an entry).
inline constexpr uint16_t kRelAbsolute = 0;  // padding
inline constexpr uint16_t kRelHigh = 1;
inline constexpr uint16_t kRelLow = 2;
inline constexpr uint16_t kRelHighLow = 3;  // the 32-bit whole address

inline constexpr uint32_t kOrdinalFlag = 0x80000000;

// Section characteristics.
inline constexpr uint32_t kSectionCode = 0x00000020;
inline constexpr uint32_t kSectionInitData = 0x00000040;
inline constexpr uint32_t kSectionDiscardable = 0x02000000;
inline constexpr uint32_t kSectionExecute = 0x20000000;
inline constexpr uint32_t kSectionRead = 0x40000000;
inline constexpr uint32_t kSectionWrite = 0x80000000;

// The fields keep the names the image format gives them.
// NOLINTBEGIN(readability-identifier-naming)
struct DosHeader {
  uint16_t e_magic;
  uint16_t e_cblp, e_cp, e_crlc, e_cparhdr, e_minalloc, e_maxalloc, e_ss, e_sp, e_csum, e_ip, e_cs, e_lfarlc,
      e_ovno;
  uint16_t e_res[4];
  uint16_t e_oemid, e_oeminfo;
  uint16_t e_res2[10];
  int32_t e_lfanew;
};
static_assert(sizeof(DosHeader) == 64);

struct ImageFileHeader {
  uint16_t Machine;
  uint16_t NumberOfSections;
  uint32_t TimeDateStamp;
  uint32_t PointerToSymbolTable;
  uint32_t NumberOfSymbols;
  uint16_t SizeOfOptionalHeader;
  uint16_t Characteristics;
};
static_assert(sizeof(ImageFileHeader) == 20);

struct ImageDataDirectory {
  uint32_t VirtualAddress;
  uint32_t Size;
};

struct OptionalHeader32 {
  uint16_t Magic;
  uint8_t MajorLinkerVersion, MinorLinkerVersion;
  uint32_t SizeOfCode, SizeOfInitializedData, SizeOfUninitializedData;
  uint32_t AddressOfEntryPoint;
  uint32_t BaseOfCode, BaseOfData;
  uint32_t ImageBase;
  uint32_t SectionAlignment, FileAlignment;
  uint16_t MajorOperatingSystemVersion, MinorOperatingSystemVersion;
  uint16_t MajorImageVersion, MinorImageVersion;
  uint16_t MajorSubsystemVersion, MinorSubsystemVersion;
  uint32_t Win32VersionValue;
  uint32_t SizeOfImage, SizeOfHeaders, CheckSum;
  uint16_t Subsystem, DllCharacteristics;
  uint32_t SizeOfStackReserve, SizeOfStackCommit, SizeOfHeapReserve, SizeOfHeapCommit;
  uint32_t LoaderFlags, NumberOfRvaAndSizes;
  ImageDataDirectory DataDirectory[kDirectoryCount];
};
static_assert(sizeof(OptionalHeader32) == 224);

struct NtHeaders32 {
  uint32_t Signature;
  ImageFileHeader FileHeader;
  OptionalHeader32 OptionalHeader;
};
static_assert(sizeof(NtHeaders32) == 248);

struct SectionHeader {
  char Name[8];
  uint32_t VirtualSize;
  uint32_t VirtualAddress;
  uint32_t SizeOfRawData;
  uint32_t PointerToRawData;
  uint32_t PointerToRelocations, PointerToLinenumbers;
  uint16_t NumberOfRelocations, NumberOfLinenumbers;
  uint32_t Characteristics;
};
static_assert(sizeof(SectionHeader) == 40);

struct BaseRelocationBlock {
  uint32_t VirtualAddress;
  uint32_t SizeOfBlock;
};
static_assert(sizeof(BaseRelocationBlock) == 8);

struct ImportDescriptor {
  uint32_t OriginalFirstThunk;
  uint32_t TimeDateStamp;
  uint32_t ForwarderChain;
  uint32_t Name;
  uint32_t FirstThunk;
};
static_assert(sizeof(ImportDescriptor) == 20);

struct ExportDirectory {
  uint32_t Characteristics;
  uint32_t TimeDateStamp;
  uint16_t MajorVersion, MinorVersion;
  uint32_t Name;
  uint32_t Base;
  uint32_t NumberOfFunctions;
  uint32_t NumberOfNames;
  uint32_t AddressOfFunctions;
  uint32_t AddressOfNames;
  uint32_t AddressOfNameOrdinals;
};
static_assert(sizeof(ExportDirectory) == 40);
// NOLINTEND(readability-identifier-naming)

}  // namespace pennacle::pe
