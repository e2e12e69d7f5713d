// Writes small XLSX workbooks in memory with libzip, for tests and the fuzz target: one worksheet,
// cells as shared strings, inline strings or numbers.
#pragma once

#include <zip.h>

#include <string>
#include <string_view>
#include <vector>

namespace pennacle::testing {

struct XlsxCell {
  enum class Kind { Shared, Inline, Number };
  std::string text;  // UTF-8
  Kind kind = Kind::Shared;
};

inline std::string xml_escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\r':
        out += "&#13;";
        break;  // a raw carriage return would be read as a line feed
      default:
        out += c;
    }
  }
  return out;
}

inline std::string column_name(size_t c) {
  std::string s;
  for (size_t n = c + 1; n > 0; n = (n - 1) / 26) s.insert(s.begin(), static_cast<char>('A' + (n - 1) % 26));
  return s;
}

// The sheet XML and the shared strings part for `rows` (row k is worksheet row k + 1).
inline void sheet_parts(const std::vector<std::vector<XlsxCell>>& rows, std::string* sheet,
                        std::string* shared) {
  std::vector<std::string> strings;
  *sheet = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
           R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)";
  for (size_t r = 0; r < rows.size(); ++r) {
    const std::string row = std::to_string(r + 1);
    *sheet += "<row r=\"" + row + "\">";
    for (size_t c = 0; c < rows[r].size(); ++c) {
      const XlsxCell& cell = rows[r][c];
      if (cell.text.empty()) continue;
      const std::string ref = " r=\"" + column_name(c) + row + "\"";
      if (cell.kind == XlsxCell::Kind::Number) {
        *sheet += "<c" + ref + "><v>" + xml_escape(cell.text) + "</v></c>";
      } else if (cell.kind == XlsxCell::Kind::Inline) {
        *sheet += "<c" + ref + " t=\"inlineStr\"><is><t xml:space=\"preserve\">" + xml_escape(cell.text) +
                  "</t></is></c>";
      } else {
        *sheet += "<c" + ref + " t=\"s\"><v>" + std::to_string(strings.size()) + "</v></c>";
        strings.push_back(cell.text);
      }
    }
    *sheet += "</row>";
  }
  *sheet += "</sheetData></worksheet>";
  *shared = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
            R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count=")" +
            std::to_string(strings.size()) + "\">";
  for (const std::string& s : strings)
    *shared += "<si><t xml:space=\"preserve\">" + xml_escape(s) + "</t></si>";
  *shared += "</sst>";
}

// A zip archive of the named parts, made in memory (packed, or stored as they are); "" when libzip
// fails.
inline std::string zip_parts(const std::vector<std::pair<std::string, std::string>>& parts,
                             bool stored = false) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* src = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_error_fini(&error);
  if (!src) return "";
  zip_source_keep(src);
  zip_t* za = zip_open_from_source(src, ZIP_TRUNCATE, nullptr);
  std::string out;
  if (za) {
    for (const auto& [name, data] : parts) {
      zip_source_t* s = zip_source_buffer(za, data.data(), data.size(), 0);
      const zip_int64_t index = s ? zip_file_add(za, name.c_str(), s, ZIP_FL_ENC_UTF_8) : -1;
      if (index < 0) {
        zip_source_free(s);
      } else if (stored) {
        zip_set_file_compression(za, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
      }
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_close(za) != 0) {
      zip_discard(za);
    } else if (zip_source_stat(src, &st) == 0 && zip_source_open(src) == 0) {
      out.resize(static_cast<size_t>(st.size));
      if (zip_source_read(src, out.data(), st.size) != static_cast<zip_int64_t>(st.size)) out.clear();
      zip_source_close(src);
    }
  }
  zip_source_free(src);
  return out;
}

// A whole workbook with one worksheet holding `rows`.
inline std::string make_xlsx(const std::vector<std::vector<XlsxCell>>& rows, bool date_1904 = false) {
  std::string sheet, shared;
  sheet_parts(rows, &sheet, &shared);
  const std::string workbook =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
      R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)" +
      std::string(date_1904 ? R"(<workbookPr date1904="1"/>)" : "") +
      R"(<sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>)";
  const std::string rels =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
      R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" )"
      R"(Target="worksheets/sheet1.xml"/></Relationships>)";
  const std::string types = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                            R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
                            R"(<Default Extension="xml" ContentType="application/xml"/></Types>)";
  return zip_parts({{"[Content_Types].xml", types},
                    {"xl/workbook.xml", workbook},
                    {"xl/_rels/workbook.xml.rels", rels},
                    {"xl/sharedStrings.xml", shared},
                    {"xl/worksheets/sheet1.xml", sheet}});
}

}  // namespace pennacle::testing
