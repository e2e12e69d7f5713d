#include "runtime/value.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "runtime/fatal.h"

// Bounds of the program image, from the linker: everything from the first mapped byte of the
// executable to the end of its static data is code, constants or static variables.
extern "C" char __executable_start;
extern "C" char end;

namespace pennacle {

const ByteSetHeader kEmptyByteSet{kByteSetMarker, 0};

bool is_constant_address(const void* p) {
  auto a = reinterpret_cast<uintptr_t>(p);
  return a >= reinterpret_cast<uintptr_t>(&__executable_start) && a < reinterpret_cast<uintptr_t>(&end);
}

void* allocate(size_t size) {
  // malloc is the process heap: safe from any thread.
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) {
    char message[64];
    std::snprintf(message, sizeof message, "分配 %d 字节内存失败!", static_cast<int>(size));
    report_fatal_message(message);
  }
  return p;
}

void release(const void* block) {
  if (block == nullptr || is_constant_address(block)) return;
  std::free(const_cast<void*>(block));
}

char* new_text_block(std::string_view s) {
  s = s.substr(0, s.find('\0'));
  if (s.empty()) return nullptr;
  auto* b = static_cast<char*>(allocate(s.size() + 1));
  std::memcpy(b, s.data(), s.size());
  b[s.size()] = '\0';
  return b;
}

ByteSetHeader* new_byteset_block(std::string_view bytes) {
  if (bytes.empty()) return nullptr;
  if (bytes.size() > UINT32_MAX - sizeof(ByteSetHeader)) {
    // The length word cannot describe it; the pool could not serve it either.
    char message[64];
    std::snprintf(message, sizeof message, "分配 %d 字节内存失败!", -1);
    report_fatal_message(message);
  }
  auto* b = static_cast<ByteSetHeader*>(allocate(sizeof(ByteSetHeader) + bytes.size()));
  b->marker = kByteSetMarker;
  b->length = static_cast<uint32_t>(bytes.size());
  std::memcpy(b + 1, bytes.data(), bytes.size());
  return b;
}

size_t array_element_size(Kind element) {
  if (element == Kind::Text || element == Kind::ByteSet) return sizeof(void*);
  size_t n = payload_size(element);
  return n == 0 ? 4 : n;
}

ArrayHeader* new_array_block(Kind element, uint32_t count) {
  size_t elem = array_element_size(element);
  size_t bytes = sizeof(ArrayHeader) + static_cast<size_t>(count) * elem;
  auto* a = static_cast<ArrayHeader*>(allocate(bytes));
  std::memset(a, 0, bytes);
  a->dimensions = 1;
  a->count = count;
  return a;
}

static bool holds_blocks(Kind element) { return element == Kind::Text || element == Kind::ByteSet; }

void release_array(ArrayHeader* a, Kind element) {
  if (a == nullptr || is_constant_address(a)) return;
  if (holds_blocks(element)) {
    auto** elems = static_cast<void**>(array_elements(a));
    for (uint32_t i = 0; i < a->count; ++i) release(elems[i]);
  }
  release(a);
}

ArrayHeader* writable_array(ArrayHeader* a, Kind element) {
  if (a == nullptr || !is_constant_address(a)) return a;
  ArrayHeader* copy = new_array_block(element, a->count);
  size_t elem = array_element_size(element);
  if (holds_blocks(element)) {
    auto** from = static_cast<void**>(array_elements(a));
    auto** to = static_cast<void**>(array_elements(copy));
    for (uint32_t i = 0; i < a->count; ++i) {
      if (element == Kind::Text)
        to[i] = new_text_block(text_view(static_cast<const char*>(from[i])));
      else
        to[i] = new_byteset_block(byteset_view(static_cast<const ByteSetHeader*>(from[i])));
    }
  } else {
    std::memcpy(array_elements(copy), array_elements(a), elem * a->count);
  }
  return copy;
}

void release_value(Value& v) {
  Kind k = v.kind_code();
  if (v.is_array()) {
    release_array(static_cast<ArrayHeader*>(v.pointer()), k);
  } else if (k == Kind::Text || k == Kind::ByteSet) {
    release(v.pointer());
  }
  v = Value{};
}

Value call_command(Command cmd, std::initializer_list<Value> args) {
  Value result{};
  cmd(static_cast<int>(args.size()), args.begin(), &result);
  return result;
}

}  // namespace pennacle
