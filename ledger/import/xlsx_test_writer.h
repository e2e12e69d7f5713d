// Writes small XLSX workbooks in memory with libzip, for tests and the fuzz target: one or more
// named worksheets, cells as shared strings, inline strings or numbers (in any text the test gives,
// exponent forms included).
#pragma once

#include <zip.h>

#include <cstdio>
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
      // A raw carriage return would be read as a line feed, and in an attribute (a sheet's name) a
      // raw tab or line feed as a space.
      case '\r':
        out += "&#13;";
        break;
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
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

// The worksheet XML for `rows` (row k is worksheet row k + 1); shared strings go to `strings`.
inline std::string sheet_xml(const std::vector<std::vector<XlsxCell>>& rows,
                             std::vector<std::string>* strings) {
  std::string sheet =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)";
  for (size_t r = 0; r < rows.size(); ++r) {
    const std::string row = std::to_string(r + 1);
    sheet += "<row r=\"" + row + "\">";
    for (size_t c = 0; c < rows[r].size(); ++c) {
      const XlsxCell& cell = rows[r][c];
      if (cell.text.empty()) continue;
      const std::string ref = " r=\"" + column_name(c) + row + "\"";
      if (cell.kind == XlsxCell::Kind::Number) {
        sheet += "<c" + ref + "><v>" + xml_escape(cell.text) + "</v></c>";
      } else if (cell.kind == XlsxCell::Kind::Inline) {
        sheet += "<c" + ref + " t=\"inlineStr\"><is><t xml:space=\"preserve\">" + xml_escape(cell.text) +
                 "</t></is></c>";
      } else {
        sheet += "<c" + ref + " t=\"s\"><v>" + std::to_string(strings->size()) + "</v></c>";
        strings->push_back(cell.text);
      }
    }
    sheet += "</row>";
  }
  return sheet + "</sheetData></worksheet>";
}

inline std::string shared_strings_xml(const std::vector<std::string>& strings) {
  std::string shared = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                       R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count=")" +
                       std::to_string(strings.size()) + "\">";
  for (const std::string& s : strings)
    shared += "<si><t xml:space=\"preserve\">" + xml_escape(s) + "</t></si>";
  return shared + "</sst>";
}

// `v` as a spreadsheet program may store it: 17 significant digits in exponent form without a
// padded exponent, e.g. 0.07 as "7.0000000000000007E-2".
inline std::string exponent_text(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.16E", v);
  std::string s = buf;
  const size_t e = s.find('E');
  std::string exponent = s.substr(e + 2);
  while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
  return s.substr(0, e + 1) + (s[e + 1] == '-' ? "-" : "") + exponent;
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

struct XlsxSheet {
  std::string name;  // UTF-8
  std::vector<std::vector<XlsxCell>> rows;
};

// A whole workbook with `sheets` in this order (the parts numbered from the last to the first, so
// that workbook order and part names differ), sharing one shared strings part.
inline std::string make_workbook(const std::vector<XlsxSheet>& sheets, bool date_1904 = false) {
  std::string list, relations;
  std::vector<std::string> strings;
  std::vector<std::pair<std::string, std::string>> parts;
  for (size_t i = 0; i < sheets.size(); ++i) {
    const std::string id = std::to_string(i + 1), part = "sheet" + std::to_string(sheets.size() - i) + ".xml";
    list +=
        "<sheet name=\"" + xml_escape(sheets[i].name) + "\" sheetId=\"" + id + "\" r:id=\"rId" + id + "\"/>";
    relations +=
        R"(<Relationship Id="rId)" + id +
        R"(" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/)" +
        part + "\"/>";
    parts.push_back({"xl/worksheets/" + part, sheet_xml(sheets[i].rows, &strings)});
  }
  const std::string workbook =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
      R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)" +
      std::string(date_1904 ? R"(<workbookPr date1904="1"/>)" : "") + "<sheets>" + list +
      "</sheets></workbook>";
  const std::string rels =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)" +
      relations + "</Relationships>";
  const std::string types = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                            R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
                            R"(<Default Extension="xml" ContentType="application/xml"/></Types>)";
  parts.insert(parts.begin(), {{"[Content_Types].xml", types},
                               {"xl/workbook.xml", workbook},
                               {"xl/_rels/workbook.xml.rels", rels},
                               {"xl/sharedStrings.xml", shared_strings_xml(strings)}});
  return zip_parts(parts);
}

// A whole workbook with one worksheet, "Sheet1", holding `rows`.
inline std::string make_xlsx(const std::vector<std::vector<XlsxCell>>& rows, bool date_1904 = false) {
  return make_workbook({{"Sheet1", rows}}, date_1904);
}

}  // namespace pennacle::testing
