// Value kinds, the three-word value record, and the pool blocks behind texts, byte sets and arrays.
//
// Every text is GBK bytes ending in one zero byte; the empty text is no block at all. A byte set is
// one block: marker word 1, length word N, N bytes. A one-dimensional array is one block: dimension
// count 1, element count N, N elements. A command's result belongs to its caller; arguments stay
// the caller's. Constants (static storage of the program image) can stand wherever an owned block
// can and are never released.
//
// A block reference is a 64-bit pointer: it travels in both payload words of a value record (a
// 32-bit host fits it in the low one), and array elements of kind Text or ByteSet are 8 bytes wide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

namespace pennacle {

enum class Kind : uint32_t {
  None = 0,  // an omitted argument, or no value
  Byte = 0x80000101,
  Short = 0x80000201,
  Int = 0x80000301,
  Int64 = 0x80000401,
  Float = 0x80000501,
  Double = 0x80000601,
  Logical = 0x80000002,
  DateTime = 0x80000003,
  Text = 0x80000004,
  ByteSet = 0x80000005,
  SubroutineRef = 0x80000006,
  WindowRef = 0x00010001,  // a reference to a window of the window runtime
};

// Added to a kind code: an array of that kind (value record) or a by-reference argument.
inline constexpr uint32_t kArrayFlag = 0x20000000;

constexpr bool is_numeric(Kind k) {
  switch (k) {
    case Kind::Byte:
    case Kind::Short:
    case Kind::Int:
    case Kind::Int64:
    case Kind::Float:
    case Kind::Double:
      return true;
    default:
      return false;
  }
}

// Payload width of a numeric or scalar kind in bytes (0 for kinds without a fixed payload).
constexpr size_t payload_size(Kind k) {
  switch (k) {
    case Kind::Byte:
      return 1;
    case Kind::Short:
      return 2;
    case Kind::Int:
    case Kind::Float:
    case Kind::Logical:
    case Kind::SubroutineRef:
      return 4;
    case Kind::Int64:
    case Kind::Double:
    case Kind::DateTime:
      return 8;
    default:
      return 0;
  }
}

// ---- Memory pool ----------------------------------------------------------------------------

// A block of at least `size` bytes. Never fails: when no memory can be had, the fatal path reports
// "分配 %d 字节内存失败!" and does not return.
[[nodiscard]] void* allocate(size_t size);
// Returns a block to the pool. Null and references into the program's constant data are ignored.
void release(const void* block);
// True for an address inside the program image (its code, constants and static data).
bool is_constant_address(const void* p);

// ---- Text blocks ----------------------------------------------------------------------------

// A new text block holding `s` and a zero byte; the empty string gives no block (nullptr).
// `s` is cut at its first zero byte, as a text cannot hold one.
[[nodiscard]] char* new_text_block(std::string_view s);
// The bytes of a text block up to its terminator; "" for no block.
inline std::string_view text_view(const char* block) {
  return block ? std::string_view(block) : std::string_view();
}

// ---- Byte set blocks ------------------------------------------------------------------------

struct ByteSetHeader {
  uint32_t marker;  // always 1
  uint32_t length;
};
inline constexpr uint32_t kByteSetMarker = 1;
// The constant empty byte set that stands for "no block" where a byte set is passed on.
extern const ByteSetHeader kEmptyByteSet;

// A new byte set block holding the bytes; zero bytes give no block (nullptr).
[[nodiscard]] ByteSetHeader* new_byteset_block(std::string_view bytes);
inline std::string_view byteset_view(const ByteSetHeader* b) {
  return b ? std::string_view(reinterpret_cast<const char*>(b + 1), b->length) : std::string_view();
}

// ---- One-dimensional arrays -----------------------------------------------------------------

struct ArrayHeader {
  uint32_t dimensions;  // 1 for every array this program makes
  uint32_t count;       // elements in the one dimension
};
// Element width: numeric kinds by their payload, texts and byte sets as block pointers.
size_t array_element_size(Kind element);
// A new zero-filled array block of `count` elements.
[[nodiscard]] ArrayHeader* new_array_block(Kind element, uint32_t count);
inline void* array_elements(ArrayHeader* a) { return a + 1; }
inline const void* array_elements(const ArrayHeader* a) { return a + 1; }
// Releases an array block; for texts and byte sets each element block first.
void release_array(ArrayHeader* a, Kind element);
// Copy on write: a constant array is copied to a fresh block before it is changed; an owned one is
// returned as it is. Text and byte-set elements of the copy are copied too.
[[nodiscard]] ArrayHeader* writable_array(ArrayHeader* a, Kind element);

// ---- Value record ---------------------------------------------------------------------------

// Three 32-bit words: payload low, payload high, kind code. Block references (texts, byte sets,
// arrays) are pointers split over both payload words; see the note at the top of this file.
struct Value {
  uint32_t lo = 0;
  uint32_t hi = 0;
  uint32_t kind = 0;

  Kind kind_code() const { return static_cast<Kind>(kind & ~kArrayFlag); }
  bool omitted() const { return kind == 0; }
  bool is_array() const { return (kind & kArrayFlag) != 0; }
  bool is(Kind k) const { return kind == static_cast<uint32_t>(k); }

  uint64_t payload() const { return (uint64_t{hi} << 32) | lo; }
  void set_payload(uint64_t p) {
    lo = static_cast<uint32_t>(p);
    hi = static_cast<uint32_t>(p >> 32);
  }
  void* pointer() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(payload())); }

  // Typed payload readers; they do not check the kind.
  int32_t int_payload() const { return static_cast<int32_t>(lo); }
  int64_t int64_payload() const { return static_cast<int64_t>(payload()); }
  double double_payload() const {
    double d;
    uint64_t p = payload();
    std::memcpy(&d, &p, sizeof d);
    return d;
  }
  float float_payload() const {
    float f;
    std::memcpy(&f, &lo, sizeof f);
    return f;
  }
  // The text of a Text value; "" for no block. Only valid while the block lives.
  std::string_view text() const { return text_view(static_cast<const char*>(pointer())); }
  const ByteSetHeader* byteset() const { return static_cast<const ByteSetHeader*>(pointer()); }

  static Value make(Kind k, uint64_t payload) {
    Value v;
    v.set_payload(payload);
    v.kind = static_cast<uint32_t>(k);
    return v;
  }
  static Value of_byte(uint8_t b) { return make(Kind::Byte, b); }
  static Value of_short(int16_t s) { return make(Kind::Short, static_cast<uint16_t>(s)); }
  static Value of_int(int32_t i) { return make(Kind::Int, static_cast<uint32_t>(i)); }
  static Value of_int64(int64_t i) { return make(Kind::Int64, static_cast<uint64_t>(i)); }
  static Value of_logical(bool b) { return make(Kind::Logical, b ? 1 : 0); }
  static Value of_float(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return make(Kind::Float, u);
  }
  static Value of_double(double d) { return of_bits(Kind::Double, d); }
  static Value of_date_time(double d) { return of_bits(Kind::DateTime, d); }
  // Borrows the block: the value does not own it (an argument, or a constant).
  static Value of_text_block(const char* block) {
    return make(Kind::Text, reinterpret_cast<uintptr_t>(block));
  }
  static Value of_byteset_block(const ByteSetHeader* block) {
    return make(Kind::ByteSet, reinterpret_cast<uintptr_t>(block));
  }
  static Value of_subroutine(void (*routine)()) {
    return make(Kind::SubroutineRef, reinterpret_cast<uintptr_t>(routine));
  }

 private:
  static Value of_bits(Kind k, double d) {
    uint64_t p;
    std::memcpy(&p, &d, sizeof p);
    return make(k, p);
  }
};
static_assert(sizeof(Value) == 12, "a value record is three 32-bit words");

// Releases the block a value owns (text, byte set, array and their elements) and clears it.
void release_value(Value& v);

// ---- Owning wrappers ------------------------------------------------------------------------

// What Text and ByteSet share: the sole owner of one pool block of kind BlockKind, or of none for
// the empty value. Move-only; the block goes back to the pool with its owner.
template <class Self, class Block, Kind BlockKind>
class OwnedBlock {
 public:
  OwnedBlock(const OwnedBlock&) = delete;
  OwnedBlock& operator=(const OwnedBlock&) = delete;

  // Takes ownership of a block (from a command result).
  static Self adopt(Block* block) {
    Self owner;
    owner.block_ = block;
    return owner;
  }
  // Takes the block out of a result value; a value of another kind gives the empty one and is
  // released.
  static Self from_result(Value& v) {
    if (v.is(BlockKind)) {
      Self owner = adopt(static_cast<Block*>(v.pointer()));
      v = Value{};
      return owner;
    }
    release_value(v);
    return Self();
  }

  const Block* block() const { return block_; }
  // Gives the block up to the caller.
  [[nodiscard]] Block* detach() {
    Block* b = block_;
    block_ = nullptr;
    return b;
  }

 protected:
  explicit OwnedBlock(Block* block = nullptr) : block_(block) {}
  OwnedBlock(OwnedBlock&& o) noexcept : block_(o.block_) { o.block_ = nullptr; }
  OwnedBlock& operator=(OwnedBlock&& o) noexcept {
    if (this != &o) {
      release(block_);
      block_ = o.block_;
      o.block_ = nullptr;
    }
    return *this;
  }
  ~OwnedBlock() { release(block_); }

 private:
  Block* block_;
};

// Owns one text block, or none for the empty text.
class Text : public OwnedBlock<Text, char, Kind::Text> {
 public:
  Text() = default;
  explicit Text(std::string_view s) : OwnedBlock(new_text_block(s)) {}

  std::string_view view() const { return text_view(block()); }
  std::string str() const { return std::string(view()); }
  const char* c_str() const { return block() ? block() : ""; }
  size_t size() const { return view().size(); }
  bool empty() const { return block() == nullptr || *block() == '\0'; }
  // A value record borrowing this text.
  Value value() const { return Value::of_text_block(block()); }
};

// Owns one byte-set block, or none for the empty byte set.
class ByteSet : public OwnedBlock<ByteSet, ByteSetHeader, Kind::ByteSet> {
 public:
  ByteSet() = default;
  explicit ByteSet(std::string_view bytes) : OwnedBlock(new_byteset_block(bytes)) {}

  std::string_view view() const { return byteset_view(block()); }
  size_t size() const { return block() ? block()->length : 0; }
  bool empty() const { return size() == 0; }
  Value value() const { return Value::of_byteset_block(block()); }
};

// ---- Commands -------------------------------------------------------------------------------

// Every command has one shape: the number of arguments passed, their records, one result record.
using Command = void (*)(int argc, const Value* args, Value* result);

// Calls a command with the result cleared first, as every caller must.
Value call_command(Command cmd, std::initializer_list<Value> args);

// Argument helpers for command bodies: an index at or beyond argc counts as omitted.
inline const Value& arg(int argc, const Value* args, int i) {
  static const Value kOmitted{};
  return i < argc ? args[i] : kOmitted;
}

}  // namespace pennacle
