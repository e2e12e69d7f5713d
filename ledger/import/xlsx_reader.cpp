#include "ledger/import/xlsx_reader.h"

#include <expat.h>
#include <zip.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <tuple>

namespace pennacle {
namespace {

// One part of the archive may unpack to at most this much; a bill export is far smaller.
constexpr zip_uint64_t kMaxPartBytes = 64u << 20;
// All parts together, and the sheets a workbook may list: many parts must not add up to a bomb.
constexpr zip_uint64_t kMaxWorkbookBytes = 4 * kMaxPartBytes;
constexpr size_t kMaxSheets = 1000;
constexpr size_t kMaxCells = 4'000'000;  // in all sheets together
constexpr int kSpreadsheetDigits = 15;   // the significant digits a spreadsheet keeps of a number
constexpr int kMaxSheetRow = 1'048'576;
constexpr int kMaxColumnLetters = 3;  // XFD, the last column a worksheet has
constexpr size_t kMaxRowDigits = 7;
constexpr size_t kMaxIndexDigits = 9;

constexpr const char* kWorkbookPart = "xl/workbook.xml";
constexpr const char* kWorkbookRelsPart = "xl/_rels/workbook.xml.rels";
constexpr const char* kSharedStringsPart = "xl/sharedStrings.xml";
constexpr const char* kFirstSheetPart = "xl/worksheets/sheet1.xml";
constexpr const char* kFirstSheetName = "sheet1";
constexpr char kNamespaceSeparator = '|';

class Archive {
 public:
  ~Archive() {
    if (zip_) zip_discard(zip_);
  }
  bool open(std::string_view bytes, std::string* problem) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* src = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (src) {
      zip_ = zip_open_from_source(src, ZIP_RDONLY, &error);
      if (!zip_) zip_source_free(src);
    }
    if (!zip_) *problem = std::string("not a readable XLSX (zip) file: ") + zip_error_strerror(&error);
    zip_error_fini(&error);
    return zip_ != nullptr;
  }
  // The unpacked bytes of `name`; `*found` false when the archive has no such part.
  bool read_part(const std::string& name, std::string* out, bool* found, std::string* problem) {
    *found = false;
    const zip_int64_t index = zip_name_locate(zip_, name.c_str(), ZIP_FL_NOCASE);
    if (index < 0) return true;
    *found = true;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) {
      *problem = name + ": " + zip_strerror(zip_);
      return false;
    }
    if (st.size > kMaxPartBytes) {
      *problem = name + ": unpacks to " + std::to_string(st.size) + " bytes, more than the " +
                 std::to_string(kMaxPartBytes) + " a bill export may have";
      return false;
    }
    if (st.size > kMaxWorkbookBytes - unpacked_) {
      *problem = name + ": the parts read unpack to more than the " + std::to_string(kMaxWorkbookBytes) +
                 " bytes a bill export may have";
      return false;
    }
    unpacked_ += st.size;
    zip_file_t* f = zip_fopen_index(zip_, static_cast<zip_uint64_t>(index), 0);
    if (!f) {
      *problem = name + ": " + zip_strerror(zip_);
      return false;
    }
    out->assign(static_cast<size_t>(st.size), '\0');
    zip_uint64_t got = 0;
    zip_int64_t n = 0;
    while (got < st.size && (n = zip_fread(f, out->data() + got, st.size - got)) > 0) {
      got += static_cast<zip_uint64_t>(n);
    }
    // One more read reaches the end of the entry, where the checksum is verified.
    char extra = 0;
    if (n >= 0 && got == st.size) n = zip_fread(f, &extra, 1);
    if (n != 0 || got != st.size) {
      *problem =
          name + ": " + (n < 0 ? zip_file_strerror(f) : "the unpacked size differs from the stated one");
      zip_fclose(f);
      return false;
    }
    zip_fclose(f);
    return true;
  }

 private:
  zip_t* zip_ = nullptr;
  zip_uint64_t unpacked_ = 0;  // by the parts read so far
};

std::string_view local_name(const char* name) {
  std::string_view n(name);
  const size_t bar = n.rfind(kNamespaceSeparator);
  return bar == std::string_view::npos ? n : n.substr(bar + 1);
}

// The value of the attribute with this local name (any namespace), or nullptr.
const char* attribute(const char** atts, std::string_view local) {
  for (size_t i = 0; atts[i] && atts[i + 1]; i += 2) {
    if (local_name(atts[i]) == local) return atts[i + 1];
  }
  return nullptr;
}

// Receives the elements of one part; a handler sets `error` to stop the parse.
class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void start(std::string_view name, const char** atts) = 0;
  virtual void end(std::string_view name) = 0;
  virtual void text(std::string_view) {}
  std::string error;
};

struct XmlRun {
  XML_Parser parser;
  XmlHandler* handler;
};

void XMLCALL on_start(void* user, const XML_Char* name, const XML_Char** atts) {
  auto* run = static_cast<XmlRun*>(user);
  run->handler->start(local_name(name), atts);
  if (!run->handler->error.empty()) XML_StopParser(run->parser, XML_FALSE);
}
void XMLCALL on_end(void* user, const XML_Char* name) {
  auto* run = static_cast<XmlRun*>(user);
  run->handler->end(local_name(name));
  if (!run->handler->error.empty()) XML_StopParser(run->parser, XML_FALSE);
}
void XMLCALL on_text(void* user, const XML_Char* s, int len) {
  auto* run = static_cast<XmlRun*>(user);
  if (len > 0) run->handler->text(std::string_view(s, static_cast<size_t>(len)));
}
// A part of a workbook has no use for a document type; refusing it keeps entity expansion out.
void XMLCALL on_doctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  auto* run = static_cast<XmlRun*>(user);
  run->handler->error = "a document type declaration is not accepted";
  XML_StopParser(run->parser, XML_FALSE);
}

bool parse_xml(const std::string& xml, const std::string& part, XmlHandler& handler, std::string* problem) {
  XML_Parser parser = XML_ParserCreateNS(nullptr, kNamespaceSeparator);
  if (!parser) {
    *problem = part + ": out of memory";
    return false;
  }
  XmlRun run{parser, &handler};
  XML_SetUserData(parser, &run);
  XML_SetElementHandler(parser, on_start, on_end);
  XML_SetCharacterDataHandler(parser, on_text);
  XML_SetStartDoctypeDeclHandler(parser, on_doctype);
  static_assert(kMaxPartBytes <= static_cast<zip_uint64_t>(std::numeric_limits<int>::max()));
  const bool ok = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK;
  if (!ok) {
    *problem =
        part + ": " +
        (handler.error.empty() ? std::string(XML_ErrorString(XML_GetErrorCode(parser))) : handler.error) +
        " (XML line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ")";
  }
  XML_ParserFree(parser);
  return ok;
}

// The sheets in workbook order (name and relationship id) and the date system.
class WorkbookHandler : public XmlHandler {
 public:
  struct Entry {
    std::string name, id;
  };
  void start(std::string_view name, const char** atts) override {
    if (name == "sheet") {
      const char* sheet_name = attribute(atts, "name");
      const char* id = attribute(atts, "id");
      sheets.push_back({sheet_name ? sheet_name : "", id ? id : ""});
      if (sheets.size() > kMaxSheets) error = "more sheets than the reader takes";
    } else if (name == "workbookPr") {
      const char* d = attribute(atts, "date1904");
      date_1904 = d && (std::string_view(d) == "1" || std::string_view(d) == "true");
    }
  }
  void end(std::string_view) override {}
  std::vector<Entry> sheets;
  bool date_1904 = false;
};

// Every relationship's target by its id.
class RelsHandler : public XmlHandler {
 public:
  void start(std::string_view name, const char** atts) override {
    const char* id = attribute(atts, "Id");
    const char* target = attribute(atts, "Target");
    if (name == "Relationship" && id && target) targets.emplace(id, target);
    if (targets.size() > kMaxSheets * 4) error = "more relationships than the reader takes";
  }
  void end(std::string_view) override {}
  std::map<std::string, std::string> targets;
};

// Text runs of <si> items, leaving out phonetic guides (<rPh>).
class SharedStringsHandler : public XmlHandler {
 public:
  void start(std::string_view name, const char**) override {
    if (name == "si") in_item_ = true, current_.clear();
    if (name == "rPh") ++phonetic_;
    if (name == "t" && in_item_ && phonetic_ == 0) in_text_ = true;
  }
  void end(std::string_view name) override {
    if (name == "t") in_text_ = false;
    if (name == "rPh" && phonetic_ > 0) --phonetic_;
    if (name == "si" && in_item_) {
      strings.push_back(std::move(current_));
      current_.clear();
      in_item_ = false;
      if (strings.size() > kMaxCells) error = "more shared strings than the reader takes";
    }
  }
  void text(std::string_view s) override {
    if (in_text_) current_ += s;
  }
  std::vector<std::string> strings;

 private:
  std::string current_;
  bool in_item_ = false, in_text_ = false;
  int phonetic_ = 0;
};

// "BC12" as the zero-based column 54 and row 12.
bool parse_reference(std::string_view ref, int* column, int* row) {
  size_t i = 0;
  int c = 0;
  while (i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z' && i < kMaxColumnLetters)
    c = c * 26 + (ref[i++] - 'A' + 1);
  const std::string_view digits = ref.substr(i);
  if (i == 0 || digits.empty() || digits.size() > kMaxRowDigits ||
      digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  *column = c - 1;
  *row = std::stoi(std::string(digits));
  return *row >= 1 && *row <= kMaxSheetRow;
}

// `x` rounded to the digits a spreadsheet keeps, written without an exponent: "0.07", "-1500".
std::string plain_decimal(double x) {
  char buf[48];  // "-d.dddddddddddddde-308"
  std::snprintf(buf, sizeof buf, "%.*e", kSpreadsheetDigits - 1, x);
  const std::string_view e(buf);
  const size_t mark = e.find('e');
  std::string digits;
  for (char c : e.substr(0, mark)) {
    if (c >= '0' && c <= '9') digits += c;
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (digits == "0") return "0";
  // from_chars cannot fail on what printf wrote: an exponent of at most three digits.
  int exponent = 0;
  std::ignore =
      std::from_chars(e.data() + mark + (e[mark + 1] == '+' ? 2 : 1), e.data() + e.size(), exponent);
  const long point = exponent + 1L;  // digits before the decimal point
  std::string out = e[0] == '-' ? "-" : "";
  if (point <= 0) return out + "0." + std::string(static_cast<size_t>(-point), '0') + digits;
  const size_t whole = static_cast<size_t>(point);
  if (whole >= digits.size()) return out + digits + std::string(whole - digits.size(), '0');
  return out + digits.substr(0, whole) + "." + digits.substr(whole);
}

// A number cell's value (an xsd:double: [+-](digits[.digits]|.digits)[(e|E)[+-]digits], padded
// with XML white space) as a plain decimal rounded to the digits a spreadsheet keeps; nullopt when
// it is no finite number.
std::optional<std::string> plain_number(std::string_view v) {
  const size_t first = v.find_first_not_of(" \t\r\n"), last = v.find_last_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::nullopt;
  v = v.substr(first, last - first + 1);
  const auto digits = [&](size_t* i) {
    const size_t from = *i;
    while (*i < v.size() && v[*i] >= '0' && v[*i] <= '9') ++*i;
    return *i - from;
  };
  size_t i = v[0] == '+' || v[0] == '-' ? 1 : 0;
  size_t mantissa = digits(&i);
  if (i < v.size() && v[i] == '.') ++i, mantissa += digits(&i);
  if (mantissa == 0) return std::nullopt;
  if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
    ++i;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) ++i;
    if (digits(&i) == 0) return std::nullopt;
  }
  if (i != v.size()) return std::nullopt;
  if (v[0] == '+') v.remove_prefix(1);  // from_chars takes no plus sign
  double x = 0;
  const auto read = std::from_chars(v.data(), v.data() + v.size(), x);
  if (read.ec != std::errc() || read.ptr != v.data() + v.size() || !std::isfinite(x)) return std::nullopt;
  return plain_decimal(x);
}

// The <row> and <c> elements of <sheetData>.
class SheetHandler : public XmlHandler {
 public:
  // `cells` counts the cells of every sheet read.
  SheetHandler(const std::vector<std::string>& shared, std::vector<SheetRow>* rows, size_t* cells)
      : shared_(shared), rows_(*rows), cells_(*cells) {}

  void start(std::string_view name, const char** atts) override {
    if (name == "row") {
      start_row(attribute(atts, "r"));
    } else if (name == "c") {
      start_cell(attribute(atts, "r"), attribute(atts, "t"));
    } else if (in_cell_ && (name == "v" || name == "f" || name == "is" || name == "rPh")) {
      if (name == "v") in_value_ = true;
      if (name == "rPh") ++phonetic_;
    } else if (in_cell_ && name == "t" && phonetic_ == 0) {
      in_text_ = true;
    }
  }
  void end(std::string_view name) override {
    if (name == "v") in_value_ = false;
    if (name == "t") in_text_ = false;
    if (name == "rPh" && phonetic_ > 0) --phonetic_;
    if (name == "c" && in_cell_) end_cell();
    if (name == "row") {
      if (in_row_ && rows_.back().cells.empty()) rows_.pop_back();
      in_row_ = false;
    }
  }
  void text(std::string_view s) override {
    if (in_value_) value_ += s;
    if (in_text_) inline_ += s;
  }

 private:
  void start_row(const char* r) {
    int number = last_row_ + 1;
    if (r && !parse_row_number(r, &number)) return;
    if (number <= last_row_ || number > kMaxSheetRow) {
      error = "row " + std::to_string(number) + " comes after row " + std::to_string(last_row_);
      return;
    }
    last_row_ = number;
    last_column_ = -1;
    in_row_ = true;
    rows_.push_back(SheetRow{number, {}, {}});
  }
  bool parse_row_number(std::string_view r, int* number) {
    if (r.empty() || r.size() > kMaxRowDigits ||
        r.find_first_not_of("0123456789") != std::string_view::npos) {
      error = "row number '" + std::string(r) + "' is not a number";
      return false;
    }
    *number = std::stoi(std::string(r));
    return true;
  }
  void start_cell(const char* r, const char* t) {
    if (!in_row_) {
      error = "a cell stands outside a row";
      return;
    }
    int column = last_column_ + 1, row = last_row_;
    if (r && (!parse_reference(r, &column, &row) || row != last_row_ || column <= last_column_)) {
      error = "cell reference '" + std::string(r) + "' does not fit row " + std::to_string(last_row_);
      return;
    }
    last_column_ = column;
    type_ = t ? t : "";
    value_.clear();
    inline_.clear();
    in_cell_ = true;
    phonetic_ = 0;
  }
  void end_cell() {
    in_cell_ = in_value_ = in_text_ = false;
    SheetCell cell;
    if (type_ == "s") {
      if (value_.empty() || value_.size() > kMaxIndexDigits ||
          value_.find_first_not_of("0123456789") != std::string::npos ||
          std::stoul(value_) >= shared_.size()) {
        error = "row " + std::to_string(last_row_) + " refers to shared string '" + value_ + "' of " +
                std::to_string(shared_.size());
        return;
      }
      cell.text = shared_[std::stoul(value_)];
    } else if (type_ == "inlineStr") {
      cell.text = inline_;
    } else if (std::optional<std::string> number;
               (type_.empty() || type_ == "n") && (number = plain_number(value_))) {
      cell.text = std::move(*number);
      cell.number = true;
    } else {
      cell.text = value_;
    }
    if (cell.text.empty() || last_column_ >= kMaxSheetColumns) return;
    if (++cells_ > kMaxCells) {
      error = "more cells than the reader takes";
      return;
    }
    std::vector<SheetCell>& cells = rows_.back().cells;
    if (cells.size() <= static_cast<size_t>(last_column_))
      cells.resize(static_cast<size_t>(last_column_) + 1);
    cells[static_cast<size_t>(last_column_)] = std::move(cell);
  }

  const std::vector<std::string>& shared_;
  std::vector<SheetRow>& rows_;
  std::string type_, value_, inline_;
  int last_row_ = 0, last_column_ = -1, phonetic_ = 0;
  size_t& cells_;
  bool in_row_ = false, in_cell_ = false, in_value_ = false, in_text_ = false;
};

// The part each sheet of the workbook stands in, in workbook order, with its name.
bool list_sheets(Archive& zip, std::vector<Sheet>* sheets, std::vector<std::string>* parts,
                 std::string* problem) {
  std::string xml;
  bool found = false;
  if (!zip.read_part(kWorkbookPart, &xml, &found, problem)) return false;
  WorkbookHandler workbook;
  if (found && !parse_xml(xml, kWorkbookPart, workbook, problem)) return false;
  RelsHandler rels;
  if (!workbook.sheets.empty()) {
    if (!zip.read_part(kWorkbookRelsPart, &xml, &found, problem)) return false;
    if (found && !parse_xml(xml, kWorkbookRelsPart, rels, problem)) return false;
  } else {
    workbook.sheets.push_back({kFirstSheetName, ""});
  }
  for (const WorkbookHandler::Entry& entry : workbook.sheets) {
    auto it = rels.targets.find(entry.id);
    std::string part = kFirstSheetPart;
    if (it != rels.targets.end() && !it->second.empty()) {
      part = it->second[0] == '/' ? it->second.substr(1) : "xl/" + it->second;
    } else if (!sheets->empty()) {
      // Only the first sheet has a part to stand in when the workbook does not name one.
      *problem = "sheet " + entry.name + ": the workbook names no part for it";
      return false;
    }
    Sheet sheet;
    sheet.name = entry.name.empty() ? "sheet" + std::to_string(sheets->size() + 1) : entry.name;
    sheet.date_1904 = workbook.date_1904;
    sheets->push_back(std::move(sheet));
    parts->push_back(std::move(part));
  }
  return true;
}

bool read_workbook(std::string_view bytes, std::vector<Sheet>* out, std::string* problem) {
  out->clear();
  Archive zip;
  if (!zip.open(bytes, problem)) return false;
  std::vector<std::string> parts;
  if (!list_sheets(zip, out, &parts, problem)) return false;
  std::string xml;
  bool found = false;
  SharedStringsHandler shared;
  if (!zip.read_part(kSharedStringsPart, &xml, &found, problem)) return false;
  if (found && !parse_xml(xml, kSharedStringsPart, shared, problem)) return false;
  size_t cells = 0;
  for (size_t i = 0; i < out->size(); ++i) {
    Sheet& sheet = (*out)[i];
    const std::string where = "sheet " + sheet.name + " (" + parts[i] + ")";
    if (!zip.read_part(parts[i], &xml, &found, problem)) {
      *problem = "sheet " + sheet.name + ": " + *problem;
      return false;
    }
    if (!found) {
      *problem = "the workbook has no worksheet " + parts[i] + " (sheet " + sheet.name + ")";
      return false;
    }
    SheetHandler handler(shared.strings, &sheet.rows, &cells);
    if (!parse_xml(xml, where, handler, problem)) return false;
  }
  return true;
}

}  // namespace

Result<std::vector<Sheet>> read_xlsx(std::string_view bytes) {
  std::vector<Sheet> sheets;
  std::string problem;
  if (!read_workbook(bytes, &sheets, &problem)) return Status::corrupt(problem);
  return sheets;
}

}  // namespace pennacle
