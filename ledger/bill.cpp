#include "ledger/bill.h"

#include <algorithm>
#include <cmath>

#include "platform/gbk.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "store/record_read.h"

namespace pennacle {
namespace {

// The table, in field order. Widths: "支付宝" and every channel the window offers fit in 64 bytes.
struct FieldDefinition {
  const char* name;
  FieldType type;
  int32_t width;
};
constexpr FieldDefinition kTable[kBillFieldCount] = {
    {"序号", FieldType::Double, 0},    {"类型", FieldType::Text, 16},    {"金额", FieldType::Double, 0},
    {"付款方式", FieldType::Text, 64}, {"时间", FieldType::DateTime, 0}, {"备注", FieldType::Memo, 0},
};

bool text_like(FieldType t) { return t == FieldType::Text || t == FieldType::Memo; }
bool numeric(FieldType t) {
  return t == FieldType::Byte || t == FieldType::Short || t == FieldType::Int || t == FieldType::Int64 ||
         t == FieldType::Float || t == FieldType::Double;
}

bool kind_fits(BillField f, FieldType t) {
  switch (f) {
    case BillField::Amount:
      return numeric(t);
    case BillField::Time:
      return t == FieldType::DateTime;
    case BillField::Number:
      return true;
    default:
      return text_like(t);
  }
}

std::string utf8_name(BillField f) { return gbk_to_utf8_lossy(bill_field_name(f)); }

Value field_value(BillField f) { return Value::of_text_block(kTable[static_cast<int32_t>(f) - 1].name); }

// The fields a read of each part takes, by name, in the order read_current_bill checks them.
constexpr BillField kReadOrder[] = {BillField::Type, BillField::Amount, BillField::Channel, BillField::Time,
                                    BillField::Remark};
constexpr size_t kReadFields = std::size(kReadOrder);
struct PartNames {
  std::array<Value, kReadFields> names;
  std::array<BillField, kReadFields> fields;
  size_t count = 0;
};
PartNames names_of(BillParts parts) {
  PartNames p;
  for (BillField f : kReadOrder) {
    if (parts == BillParts::WithoutTexts && (f == BillField::Channel || f == BillField::Remark)) continue;
    if (parts == BillParts::WithoutRemark && f == BillField::Remark) continue;
    p.names[p.count] = field_value(f);
    p.fields[p.count++] = f;
  }
  return p;
}

// A text field's bytes into `out`; false when the record gives another kind.
bool take_text(const RecordRead& read, size_t i, std::string* out) {
  if (read.kind(i) != Kind::Text) return false;
  out->assign(read.bytes(i));
  return true;
}

// Field `i` of `read` (bill field `f`) into `out`; false when its kind is not one a bill takes there.
bool take_field(const RecordRead& read, size_t i, BillField f, Bill* out) {
  const Value& v = read.scalar(i);
  switch (f) {
    case BillField::Amount:
      if (!is_numeric(v.kind_code()) || v.is_array()) return false;
      out->amount = value_to_double(v);
      return true;
    case BillField::Time:
      if (!v.is(Kind::DateTime)) return false;
      out->time = v.double_payload();
      return true;
    case BillField::Type:
      return take_text(read, i, &out->type);
    case BillField::Channel:
      return take_text(read, i, &out->channel);
    default:
      return take_text(read, i, &out->remark);
  }
}

}  // namespace

bool Bill::is_expense() const { return type == expense_type(); }

std::string_view bill_field_name(BillField field) { return kTable[static_cast<int32_t>(field) - 1].name; }
std::string_view expense_type() { return "支出"; }
std::string_view income_type() { return "收入"; }

bool bill_valid(const Bill& b) {
  // An amount that is not a finite number (a pasted "1e999") fails like one not above the minimum.
  return !b.type.empty() && std::isfinite(b.amount) && b.amount > kMinimumAmount && !b.channel.empty();
}

std::vector<FieldSpec> bill_table_fields() {
  std::vector<FieldSpec> fields;
  for (const FieldDefinition& d : kTable) fields.push_back({d.name, d.type, d.width});
  return fields;
}

Status open_record_file(const std::string& utf8_path, bool read_only) {
  const std::optional<std::string> path = utf8_to_gbk(utf8_path);
  if (!path) return Status::invalid(utf8_path + ": the path has characters GBK cannot hold");
  set_db_wait_time(kToolWaitMs);
  const Text name(*path);
  const Value ro = read_only ? Value::of_int(1) : Value{};
  if (!call_command(db_open, {name.value(), Value{}, ro}).lo) {
    return store_status(db_last_error()).with_context(utf8_path);
  }
  return Status();
}

Result<BillTable> current_bill_table() {
  DatabaseInfo info;
  if (!db_current_info(&info)) return Status::not_found("no database is open");
  if (info.fields.size() < static_cast<size_t>(kBillFieldCount)) {
    return Status::invalid("not a ledger table: it has " + std::to_string(info.fields.size()) +
                           " field(s), a ledger has " + std::to_string(kBillFieldCount));
  }
  BillTable t;
  t.full_path = info.full_path;
  for (int32_t i = 1; i <= kBillFieldCount; ++i) {
    const auto f = static_cast<BillField>(i);
    const FieldDescriptor& d = info.fields[static_cast<size_t>(i - 1)];
    if (f != BillField::Number && !names_equal(d.name, bill_field_name(f))) {
      return Status::invalid("not a ledger table: field " + std::to_string(i) + " is " +
                             gbk_to_utf8_lossy(d.name) + ", a ledger's is " + utf8_name(f));
    }
    if (!kind_fits(f, d.type)) {
      return Status::invalid("not a ledger table: " + utf8_name(f) +
                             " is of a type a bill cannot keep there " +
                             "(类型, 付款方式 and 备注 take text or memo, 金额 a number, 时间 a date-time)");
    }
    t.fields[static_cast<size_t>(i - 1)] = d;
  }
  const FieldDescriptor& remark = t.field(BillField::Remark);
  t.remark_limit = remark.type == FieldType::Text ? static_cast<size_t>(remark.width) : kMemoRemarkBytes;
  return t;
}

bool cut_remark(const BillTable& table, std::string* remark) {
  std::string_view view = *remark;
  if (!cut_remark(table, &view)) return false;
  remark->resize(view.size());
  return true;
}

bool cut_remark(const BillTable& table, std::string_view* remark) {
  if (remark->size() <= table.remark_limit) return false;
  *remark = cut_gbk(*remark, table.remark_limit);
  return true;
}

double stored_amount(const BillTable& table, double a) {
  switch (table.field(BillField::Amount).type) {
    case FieldType::Double:
      return a;
    case FieldType::Float:
      return static_cast<double>(static_cast<float>(a));
    default:  // an integer field keeps the whole part, as the store writes it
      return std::trunc(a);
  }
}

namespace {

// One read of the record for all its fields: one hold of its lock, not one per field. The buffers
// stay with the thread, so a walk allocates nothing once they have grown.
std::optional<BillField> read_bill_record(Bill* out, BillParts parts, Records which) {
  static const PartNames kParts[] = {names_of(BillParts::All), names_of(BillParts::WithoutRemark),
                                     names_of(BillParts::WithoutTexts)};
  const PartNames& p = kParts[static_cast<size_t>(parts)];
  thread_local RecordRead t_read;
  // Its code is the last error.
  std::ignore = db_read_record(std::span(p.names.data(), p.count), &t_read, which);
  if (which == Records::Live) {
    out->serial = t_read.serial();
    if (out->serial <= 0) return std::nullopt;
  }
  for (size_t i = 0; i < p.count; ++i) {
    if (!take_field(t_read, i, p.fields[i], out)) return p.fields[i];
  }
  return std::nullopt;
}

}  // namespace

std::optional<BillField> read_current_bill(Bill* out, BillParts parts) {
  return read_bill_record(out, parts, Records::All);
}

std::optional<BillField> read_current_live_bill(Bill* out, BillParts parts) {
  return read_bill_record(out, parts, Records::Live);
}

BillRow bill_row(const Bill& b, double number, std::array<Text, 3>* texts) {
  (*texts)[0] = Text(b.type);
  (*texts)[1] = Text(b.channel);
  (*texts)[2] = Text(b.remark);
  return {Value::of_double(number), (*texts)[0].value(),         Value::of_double(b.amount),
          (*texts)[1].value(),      Value::of_date_time(b.time), (*texts)[2].value()};
}

DbCode append_bills(const std::vector<Bill>& group, std::vector<int32_t>* serials) {
  serials->clear();
  const int32_t count = call_command(db_record_count, {}).int_payload();
  if (DbCode rc = db_last_error(); rc != DbCode::Ok || group.empty()) return rc;
  std::vector<std::array<Text, 3>> texts(group.size());
  std::vector<std::vector<Value>> rows;
  rows.reserve(group.size());
  for (size_t i = 0; i < group.size(); ++i) {
    const BillRow row = bill_row(group[i], count + 1.0 + static_cast<double>(i), &texts[i]);
    rows.emplace_back(row.begin(), row.end());
  }
  const DbCode rc = db_append_rows(rows);
  // The group is stored whole or not at all; a remark that could not be stored leaves its bill.
  const auto n = static_cast<int32_t>(group.size());
  if (rc != DbCode::Ok && call_command(db_record_count, {}).int_payload() != count + n) return rc;
  // One hold of the count slot gives the group consecutive serials, the last one current.
  int32_t last = 0;
  if (DbCode read = db_current_serial(&last); read != DbCode::Ok) return rc != DbCode::Ok ? rc : read;
  for (int32_t i = 0; i < n; ++i) serials->push_back(last - n + 1 + i);
  return rc;
}

std::string store_code_text(DbCode code) {
  return gbk_to_utf8_lossy(db_error_text(code)) + " (" + std::to_string(code_number(code)) + ")";
}

Status store_status(DbCode code) {
  if (code == DbCode::Ok) return Status();
  return Status::store(code_number(code), store_code_text(code));
}

}  // namespace pennacle
