// This file is compiled with UTF-8 literals: export cells are UTF-8 by the time they are compared.
#include "ledger/import/bill_exports.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <utility>

#include "ledger/import/bill_text.h"
#include "ledger/import/export_charsets.h"
#include "ledger/import/sheet_view.h"

namespace pennacle {
namespace {

constexpr double kMinAmount = 0.0000001;  // the window's rule for an amount
constexpr int kMaxHeaderLine = 100;       // the header stands within the first lines (or sheet rows)
constexpr std::string_view kXlsxMagic = "PK\x03\x04";
constexpr std::string_view kRemarkSeparator = " · ";

enum Role {
  kTime,
  kCategory,
  kCounterpart,
  kGoods,
  kDirection,
  kAmount,
  kStatus,
  kOrder,
  kMerchant,
  kMethod,
  kTaxonomy,  // what the category rules call Alipay's category and WeChat's txType
  kRoles
};

struct RoleNames {
  bool required;
  std::vector<std::string_view> names;  // any of these; when several are there, the first non-empty wins
};

using Layout = std::array<RoleNames, kRoles>;

const Layout& layout_of(ExportSource source) {
  static const Layout kAlipay = {{{true, {"交易时间", "付款时间", "交易创建时间"}},
                                  {false, {"交易分类", "类型"}},
                                  {true, {"交易对方"}},
                                  {true, {"商品说明", "商品名称"}},
                                  {true, {"收/支"}},
                                  {true, {"金额", "金额（元）", "金额(元)"}},
                                  {true, {"交易状态"}},
                                  {true, {"交易订单号", "交易号"}},
                                  {false, {"商家订单号"}},
                                  {false, {"收/付款方式"}},
                                  {false, {"交易分类"}}}};
  static const Layout kWeChat = {{{true, {"交易时间"}},
                                  {true, {"交易类型"}},
                                  {true, {"交易对方"}},
                                  {true, {"商品"}},
                                  {true, {"收/支"}},
                                  {true, {"金额(元)", "金额（元）", "金额"}},
                                  {true, {"当前状态"}},
                                  {true, {"交易单号"}},
                                  {false, {"商户单号"}},
                                  {false, {"支付方式"}},
                                  {false, {"交易类型"}}}};
  return source == ExportSource::Alipay ? kAlipay : kWeChat;
}

// Column indices for each role, in the order of the role's names.
using Columns = std::array<std::vector<size_t>, kRoles>;

bool match_header(std::span<const std::string_view> cells, ExportSource source, Columns* out) {
  std::map<std::string_view, size_t> index;
  for (size_t i = 0; i < cells.size(); ++i) index.emplace(trim_cell(cells[i]), i);
  const Layout& layout = layout_of(source);
  Columns columns;
  for (size_t r = 0; r < kRoles; ++r) {
    for (std::string_view name : layout[r].names) {
      if (auto it = index.find(name); it != index.end()) columns[r].push_back(it->second);
    }
    if (layout[r].required && columns[r].empty()) return false;
  }
  *out = std::move(columns);
  return true;
}

std::string header_text(ExportSource source) {
  std::string s;
  for (const RoleNames& r : layout_of(source)) {
    if (r.required) s += (s.empty() ? "" : ",") + std::string(r.names[0]);
  }
  return s;
}

enum class RowKind { Payment, Income, Refund, Neutral, FailedOrClosed, Pending, UnknownStatus };

// One data row's cells by role, padding removed.
struct RowFields {
  int line = 0;
  ExportSource source = ExportSource::Alipay;
  std::array<std::string_view, kRoles> f;
  std::string_view time_cell;  // the time's cell as it stands
  bool time_number = false;    // a workbook's number cell: a date serial
  RowKind kind = RowKind::Payment;
  bool refund = false;
};

bool contains(std::string_view s, std::string_view part) { return s.find(part) != std::string_view::npos; }
bool empty_or_slash(std::string_view s) { return s.empty() || s == "/"; }

enum class StatusClass { Moved, Pending, FailedOrClosed, Unknown };

// What a 交易状态 or 当前状态 says of the money. Only a trade in which it moved is a bill; one where
// it has not moved yet is pending; a status on neither list is not guessed at.
StatusClass status_class(std::string_view status) {
  static const std::set<std::string_view> kMoved = {
      "交易成功",     "支付成功",   "付款成功",   "交易完成",   "等待确认收货", "等待发货",
      "等待卖家发货", "卖家已发货", "已存入零钱", "已收钱",     "朋友已收钱",   "对方已收钱",
      "已收款",       "收款成功",   "已到账",     "已入账",     "已转账",       "转账成功",
      "已支付",       "代付成功",   "退款成功",   "已全额退款", "已退款",       "还款成功",
      "已还款",       "充值成功",   "充值完成",   "提现成功",   "提现已到账"};
  static const std::set<std::string_view> kPending = {
      "",       "等待付款",   "等待买家付款", "待付款",     "待支付",     "支付中",
      "付款中", "处理中",     "退款中",       "等待退款",   "待退款",     "转账中",
      "待收款", "待对方收款", "等待对方收款", "朋友待收钱", "对方待收钱", "提现中",
      "充值中", "还款中",     "交易处理中"};
  for (std::string_view closed : {"失败", "关闭", "撤销", "取消", "已退还", "已退回", "已过期"}) {
    if (contains(status, closed)) return StatusClass::FailedOrClosed;
  }
  // WeChat Pay writes a partial refund with its amount: "已退款(￥5.00)".
  if (kMoved.count(status) || status.substr(0, std::string_view("已退款").size()) == "已退款") {
    return StatusClass::Moved;
  }
  if (kPending.count(status) || contains(status, "处理中")) return StatusClass::Pending;
  return StatusClass::Unknown;
}

// What each status a read meets says, worked out once: an export repeats a few statuses.
class StatusClasses {
 public:
  StatusClass of(std::string_view status) {
    for (const auto& [text, money] : seen_) {
      if (text == status) return money;
    }
    const StatusClass money = status_class(status);
    if (seen_.size() < kRemembered) seen_.emplace_back(status, money);
    return money;
  }

 private:
  static constexpr size_t kRemembered = 16;
  std::vector<std::pair<std::string_view, StatusClass>> seen_;
};

// Sorts a row, or gives the reason it cannot be. A neutral row is neutral whatever its status.
bool classify(ExportSource source, StatusClasses& statuses, RowFields* row, std::string* why) {
  const std::string_view status = row->f[kStatus], direction = row->f[kDirection],
                         category = row->f[kCategory];
  const bool refund = source == ExportSource::Alipay ? contains(status, "退款") || category == "退款"
                                                     : contains(category, "退款");
  const bool neutral =
      direction == "不计收支" || direction == "/" || (source == ExportSource::Alipay && direction.empty());
  const StatusClass money = statuses.of(status);
  row->refund = refund;
  if (money == StatusClass::FailedOrClosed) {
    row->kind = RowKind::FailedOrClosed;
  } else if (!refund && neutral) {
    row->kind = RowKind::Neutral;
  } else if (money == StatusClass::Pending) {
    row->kind = RowKind::Pending;
  } else if (money == StatusClass::Unknown) {
    row->kind = RowKind::UnknownStatus;
  } else if (refund) {
    row->kind = RowKind::Refund;
  } else if (direction == "支出") {
    row->kind = RowKind::Payment;
  } else if (direction == "收入") {
    row->kind = RowKind::Income;
  } else {
    *why = "收/支 '" + std::string(direction) + "' is none of 收入, 支出, " +
           (source == ExportSource::Alipay ? "不计收支" : "/");
    return false;
  }
  return true;
}

std::optional<double> row_time(const RowFields& row, bool date_1904) {
  if (row.time_number) {
    std::optional<double> serial = parse_export_amount(row.time_cell);
    return serial ? trade_time_from_serial(*serial, date_1904) : std::nullopt;
  }
  return parse_trade_time(row.f[kTime]);
}

// A text cell of a bill, which stays empty when the cell is or says "/".
void keep_cell(std::string_view cell, std::string* out) {
  if (!empty_or_slash(cell)) out->assign(cell);
}

// The bill of a row that is imported, into a new `b`, its remark still UTF-8; false with the
// reason when a cell does not hold what it must.
bool make_bill(const RowFields& row, bool date_1904, ExportBill* b, std::string* why) {
  b->line = row.line;
  b->kind = row.kind == RowKind::Refund           ? ExportBill::Kind::Refund
            : row.kind == RowKind::FailedOrClosed ? ExportBill::Kind::Closed
                                                  : ExportBill::Kind::Payment;
  b->income = row.f[kDirection] == "收入";
  std::optional<double> time = row_time(row, date_1904);
  if (!time) {
    *why = "交易时间 '" + std::string(row.f[kTime]) + "' is not a date and time";
    return false;
  }
  b->time = *time;
  std::optional<double> amount = parse_export_amount(row.f[kAmount]);
  if (!amount) {
    *why = "金额 '" + std::string(row.f[kAmount]) + "' is not an amount";
    return false;
  }
  if (!(*amount > kMinAmount)) {
    *why = "金额 '" + std::string(row.f[kAmount]) + "' is not above 0.0000001";
    return false;
  }
  b->amount = *amount;
  b->remark.reserve(row.f[kCounterpart].size() + kRemarkSeparator.size() + row.f[kGoods].size());
  for (std::string_view part : {row.f[kCounterpart], row.f[kGoods]}) {
    if (empty_or_slash(part)) continue;
    if (!b->remark.empty()) b->remark += kRemarkSeparator;
    b->remark += part;
  }
  b->order.assign(row.f[kOrder]);
  keep_cell(row.f[kMerchant], &b->merchant);
  keep_cell(row.f[kCounterpart], &b->peer);
  keep_cell(row.f[kGoods], &b->item);
  keep_cell(row.f[kMethod], &b->method);
  keep_cell(row.f[kTaxonomy], row.source == ExportSource::Alipay ? &b->category : &b->tx_type);
  return true;
}

// The remarks of all bills in GBK. A bill that is booked says what its remark left out; a closed
// payment, which is not, says nothing.
void remarks_to_gbk(const std::vector<bool>& booked, ExportRead* out) {
  std::vector<std::string*> remarks;
  remarks.reserve(out->bills.size());
  for (ExportBill& b : out->bills) remarks.push_back(&b.remark);
  const std::vector<int> dropped = utf8_to_gbk_dropping_all(remarks);
  for (size_t i = 0; i < dropped.size(); ++i) {
    if (dropped[i] > 0 && booked[i]) {
      out->notices.push_back({out->bills[i].line, "the remark leaves out " + std::to_string(dropped[i]) +
                                                      " character(s) GBK cannot hold"});
    }
  }
}

// Counts the rows that are not booked and makes bills of the others, row by row. A closed payment
// is kept for its refund's sake when its cells read; it is never booked, so a cell that does not
// is no error.
class RowSorter {
 public:
  RowSorter(bool date_1904, ExportRead* out) : date_1904_(date_1904), out_(out) {}

  void add(const RowFields& row) {
    std::string why;
    switch (row.kind) {
      case RowKind::Neutral:
        ++out_->neutral;
        break;
      case RowKind::Pending:
        ++out_->pending;
        break;
      case RowKind::UnknownStatus:
        out_->unknown_statuses.push_back({row.line, std::string(row.f[kStatus])});
        break;
      case RowKind::FailedOrClosed: {
        ++out_->failed_or_closed;
        const bool payment = !row.refund && (row.f[kDirection] == "支出" || row.f[kDirection] == "收入");
        if (payment) bill(row, false, &why);
        break;
      }
      default:
        if (!bill(row, true, &why)) cell_errors_.push_back({row.line, why});
    }
  }

  // The remarks in GBK, and the errors in line order; on one line, those of reading the line come
  // before those of its cells.
  void finish() {
    remarks_to_gbk(booked_, out_);
    out_->errors.insert(out_->errors.end(), std::make_move_iterator(cell_errors_.begin()),
                        std::make_move_iterator(cell_errors_.end()));
    std::stable_sort(out_->errors.begin(), out_->errors.end(),
                     [](const RowNote& a, const RowNote& b) { return a.line < b.line; });
  }

 private:
  bool bill(const RowFields& row, bool booked, std::string* why) {
    if (!make_bill(row, date_1904_, &out_->bills.emplace_back(), why)) {
      out_->bills.pop_back();
      return false;
    }
    booked_.push_back(booked);
    return true;
  }

  bool date_1904_;
  ExportRead* out_;
  std::vector<bool> booked_;  // by bill: booked, or a closed payment
  std::vector<RowNote> cell_errors_;
};

bool is_footer_start(std::string_view first_cell) { return trim_cell(first_cell).substr(0, 2) == "--"; }

// The cells of a CSV row as its columns: a trailing comma (an empty last cell) is none.
size_t csv_columns(std::span<const std::string_view> cells) {
  const size_t n = cells.size();
  return n > 1 && cells.back().empty() ? n - 1 : n;
}

// Why a CSV row cannot stand under `header`: it has another number of cells, so its cells would be
// read under the wrong names (an unquoted "1,234.56" makes two). "" when it fits. A workbook's
// cells stand in their columns by reference and always fit.
std::string width_problem(const SheetView& sheet, std::span<const std::string_view> header,
                          std::span<const std::string_view> row) {
  const size_t columns = csv_columns(header);
  if (!sheet.name.empty() || row.size() == columns || csv_columns(row) == columns) return "";
  return std::to_string(csv_columns(row)) + " cells, the header has " + std::to_string(columns);
}

// The row's cells by role, padding removed.
RowFields fields_of(const RowRef& row, const Columns& columns, ExportSource source) {
  RowFields fields;
  fields.line = row.line;
  fields.source = source;
  for (size_t r = 0; r < kRoles; ++r) {
    for (size_t col : columns[r]) {
      if (col >= row.cells.size()) continue;
      const std::string_view text = trim_cell(row.cells[col]);
      if (text.empty()) continue;
      fields.f[r] = text;
      if (r == kTime) {
        fields.time_cell = row.cells[col];
        fields.time_number = row.number(col);
      }
      break;
    }
  }
  return fields;
}

struct HeaderAt {
  const SheetView* sheet = nullptr;  // none found
  size_t index = 0;                  // the sheet's
  size_t row = 0;
  ExportSource source = ExportSource::Alipay;
  Columns columns;
};

// The data rows after the header, up to a dash line or a summary below them, into bills and counts.
void read_rows(const HeaderAt& at, ExportSheets::Rows rows, size_t rows_hint, ExportRead* out) {
  const ExportSource source = at.source;
  size_t needed = 0;
  for (size_t r = 0; r < kRoles; ++r) {
    if (layout_of(source)[r].required) needed = std::max(needed, at.columns[r][0] + 1);
  }
  const SheetView& sheet = *at.sheet;
  const RowRef header = sheet.row(at.row);
  StatusClasses statuses;
  RowSorter sorter(sheet.date_1904, out);
  out->bills.reserve(rows_hint > at.row ? rows_hint - at.row : 0);
  while (const std::optional<RowRef> row = rows.next()) {
    if (!row->problem.empty()) {
      out->errors.push_back({row->line, std::string(row->problem)});
      continue;
    }
    const auto first = std::find_if(row->cells.begin(), row->cells.end(),
                                    [](std::string_view c) { return !trim_cell(c).empty(); });
    if (first == row->cells.end()) continue;
    if (is_footer_start(*first)) break;
    RowFields fields = fields_of(*row, at.columns, source);
    const bool looks_like_time =
        !fields.f[kTime].empty() && fields.f[kTime][0] >= '0' && fields.f[kTime][0] <= '9';
    if (row->cells.size() < needed && !looks_like_time) break;  // a summary below the bills
    std::string why = width_problem(sheet, header.cells, row->cells);
    if (!why.empty()) {
      out->errors.push_back({row->line, why});
      continue;
    }
    if (!classify(source, statuses, &fields, &why)) {
      out->errors.push_back({row->line, why});
      continue;
    }
    sorter.add(fields);
  }
  sorter.finish();
}

// The first header row of any of `sources` among the first rows of each sheet, in sheet order.
HeaderAt find_header(const std::vector<SheetView>& sheets, const std::vector<ExportSource>& sources) {
  HeaderAt at;
  for (size_t index = 0; index < sheets.size(); ++index) {
    const SheetView& sheet = sheets[index];
    for (size_t i = 0; i < sheet.rows.size() && sheet.rows[i].line <= kMaxHeaderLine; ++i) {
      for (ExportSource s : sources) {
        if (match_header(sheet.row(i).cells, s, &at.columns)) {
          at.sheet = &sheet;
          at.index = index;
          at.row = i;
          at.source = s;
          return at;
        }
      }
    }
  }
  return at;
}

// Why no sheet has a header row: NotFound for text that may be another format, else Invalid.
Status no_header(const ExportOptions& options, bool from_xlsx, size_t sheets) {
  const std::string where = from_xlsx ? " in the first " + std::to_string(kMaxHeaderLine) + " rows of its " +
                                            std::to_string(sheets) + (sheets == 1 ? " sheet" : " sheets")
                                      : " in the first " + std::to_string(kMaxHeaderLine) + " lines";
  if (!options.force && !from_xlsx) return Status::not_found("no bill export header row");
  return Status::invalid(options.force ? "no " + std::string(source_name(*options.force)) + " header row (" +
                                             header_text(*options.force) + ")" + where
                                       : "the workbook is not a bill export: no header row" + where + "; " +
                                             expected_export_headers());
}

}  // namespace

std::string row_place(const ExportRead& read, int line) {
  return read.sheet.empty() ? "line " + std::to_string(line)
                            : "sheet " + read.sheet + ", row " + std::to_string(line);
}

bool is_xlsx(std::string_view bytes) { return bytes.substr(0, kXlsxMagic.size()) == kXlsxMagic; }

Result<std::vector<Sheet>> load_sheets(std::string_view bytes) {
  if (is_xlsx(bytes)) return read_xlsx(bytes);
  Gb18030Text converted;
  Result<std::string_view> text = decode_export_text(bytes, &converted);
  if (!text.ok()) return text.status();
  std::vector<Sheet> sheets;
  sheets.push_back(csv_sheet(*text));
  return sheets;
}

Result<ExportRead> read_bill_export(std::string_view bytes, const ExportOptions& options) {
  const bool from_xlsx = is_xlsx(bytes);
  ExportSheets sheets;
  if (Status s = sheets.load(bytes, kMaxHeaderLine); !s.ok()) {
    if (options.force || from_xlsx) return s;
    return Status::not_found(s.message());
  }
  ExportRead read;
  std::vector<ExportSource> sources = {ExportSource::Alipay, ExportSource::WeChat};
  if (options.force) sources = {*options.force};
  const HeaderAt found = find_header(sheets.heads(), sources);
  if (!found.sheet) return no_header(options, from_xlsx, sheets.heads().size());
  read.source = found.source;
  read.sheet = std::string(found.sheet->name);
  read_rows(found, sheets.rows_after(found.index, found.row), sheets.rows_hint(found.index), &read);
  return read;
}

std::string expected_export_headers() {
  return "an Alipay export has a header row with " + header_text(ExportSource::Alipay) +
         "; a WeChat Pay export one with " + header_text(ExportSource::WeChat);
}

std::string_view source_channel(ExportSource source) {
  return source == ExportSource::Alipay ? "支付宝" : "微信";
}

std::string_view source_name(ExportSource source) {
  return source == ExportSource::Alipay ? "Alipay" : "WeChat Pay";
}

}  // namespace pennacle
