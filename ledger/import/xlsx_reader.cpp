#include "ledger/import/xlsx_reader.h"

#include <expat.h>
#include <zip.h>

#include <cstdint>
#include <limits>

namespace pennacle {
namespace {

// One part of the archive may unpack to at most this much; a bill export is far smaller.
constexpr zip_uint64_t kMaxPartBytes = 64u << 20;
constexpr size_t kMaxCells = 4'000'000;
constexpr int kMaxSheetRow = 1'048'576;
constexpr int kMaxColumnLetters = 3;  // XFD, the last column a worksheet has
constexpr size_t kMaxRowDigits = 7;
constexpr size_t kMaxIndexDigits = 9;

constexpr const char* kWorkbookPart = "xl/workbook.xml";
constexpr const char* kWorkbookRelsPart = "xl/_rels/workbook.xml.rels";
constexpr const char* kSharedStringsPart = "xl/sharedStrings.xml";
constexpr const char* kFirstSheetPart = "xl/worksheets/sheet1.xml";
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

// The first sheet's relationship id and the date system.
class WorkbookHandler : public XmlHandler {
 public:
  void start(std::string_view name, const char** atts) override {
    if (name == "sheet" && sheet_id.empty()) {
      const char* id = attribute(atts, "id");
      if (id) sheet_id = id;
    } else if (name == "workbookPr") {
      const char* d = attribute(atts, "date1904");
      date_1904 = d && (std::string_view(d) == "1" || std::string_view(d) == "true");
    }
  }
  void end(std::string_view) override {}
  std::string sheet_id;
  bool date_1904 = false;
};

class RelsHandler : public XmlHandler {
 public:
  explicit RelsHandler(std::string id) : id_(std::move(id)) {}
  void start(std::string_view name, const char** atts) override {
    const char* id = attribute(atts, "Id");
    const char* target = attribute(atts, "Target");
    if (name == "Relationship" && id && target && id_ == id) this->target = target;
  }
  void end(std::string_view) override {}
  std::string target;

 private:
  std::string id_;
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

// The <row> and <c> elements of <sheetData>.
class SheetHandler : public XmlHandler {
 public:
  SheetHandler(const std::vector<std::string>& shared, std::vector<SheetRow>* rows)
      : shared_(shared), rows_(*rows) {}

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
    } else {
      cell.text = value_;
      cell.number = (type_.empty() || type_ == "n") && !value_.empty();
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
  size_t cells_ = 0;
  bool in_row_ = false, in_cell_ = false, in_value_ = false, in_text_ = false;
};

bool read_workbook(std::string_view bytes, Sheet* out, std::string* problem) {
  *out = Sheet{};
  Archive zip;
  if (!zip.open(bytes, problem)) return false;
  std::string xml, sheet_part = kFirstSheetPart;
  bool found = false;
  if (!zip.read_part(kWorkbookPart, &xml, &found, problem)) return false;
  if (found) {
    WorkbookHandler workbook;
    if (!parse_xml(xml, kWorkbookPart, workbook, problem)) return false;
    out->date_1904 = workbook.date_1904;
    if (!workbook.sheet_id.empty()) {
      if (!zip.read_part(kWorkbookRelsPart, &xml, &found, problem)) return false;
      RelsHandler rels(workbook.sheet_id);
      if (found && !parse_xml(xml, kWorkbookRelsPart, rels, problem)) return false;
      if (!rels.target.empty()) {
        sheet_part = rels.target[0] == '/' ? rels.target.substr(1) : "xl/" + rels.target;
      }
    }
  }
  SharedStringsHandler shared;
  if (!zip.read_part(kSharedStringsPart, &xml, &found, problem)) return false;
  if (found && !parse_xml(xml, kSharedStringsPart, shared, problem)) return false;
  if (!zip.read_part(sheet_part, &xml, &found, problem)) return false;
  if (!found) {
    *problem = "the workbook has no worksheet " + sheet_part;
    return false;
  }
  SheetHandler sheet(shared.strings, &out->rows);
  return parse_xml(xml, sheet_part, sheet, problem);
}

}  // namespace

Result<Sheet> read_xlsx(std::string_view bytes) {
  Sheet sheet;
  std::string problem;
  if (!read_workbook(bytes, &sheet, &problem)) return Status::corrupt(problem);
  return sheet;
}

}  // namespace pennacle
