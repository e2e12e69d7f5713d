// The bill: one record of the ledger's table, its rules, and the one codec between the two. Every
// reader and writer of bills (the window, kdbtool, the import) goes through here, so the table's
// field names and their order are written in this file's source alone.
//
// Texts are GBK, as the record file stores them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "runtime/value.h"
#include "store/errors.h"
#include "store/format.h"
#include "store/record_store.h"

namespace pennacle {

struct Bill {
  int32_t serial = 0;   // the record's serial; 0 for a bill not stored yet
  std::string type;     // 类型: "支出" is an expense, any other text an income
  double amount = 0;    // 金额, always positive: the type alone decides the side
  std::string channel;  // 付款方式
  double time = 0;      // 时间, a date-time value
  std::string remark;   // 备注

  bool is_expense() const;
};

// The table's fields by position (1-based, as the store numbers them).
enum class BillField : int32_t { Number = 1, Type, Amount, Channel, Time, Remark };
inline constexpr int32_t kBillFieldCount = 6;

// A field's name in the table (GBK); Number has none the ledger ever reads.
std::string_view bill_field_name(BillField field);
// "支出" and "收入" (GBK).
std::string_view expense_type();
std::string_view income_type();

// A bill's amount must be a finite number above this; its type and channel must not be empty.
inline constexpr double kMinimumAmount = 0.0000001;
bool bill_valid(const Bill& bill);

// ---- The table -------------------------------------------------------------------------------

// The table `kdbtool create` writes: a running number, then the five fields above.
std::vector<FieldSpec> bill_table_fields();

// A remark in a memo field keeps to one auxiliary block, enough for any counterpart and goods and
// short enough to read in a message box.
inline constexpr size_t kMemoRemarkBytes = 500;

// What the codec needs to know of an open ledger's table.
struct BillTable {
  std::string full_path;  // GBK
  std::array<FieldDescriptor, kBillFieldCount> fields;
  // Bytes a remark may take: a text field's width, or kMemoRemarkBytes for a memo.
  size_t remark_limit = kMemoRemarkBytes;

  const FieldDescriptor& field(BillField f) const { return fields[static_cast<size_t>(f) - 1]; }
};

// Programs beside the window (kdbtool, the import) wait this long for an operation the window is
// running instead of failing at once.
inline constexpr int32_t kToolWaitMs = 2000;

// Opens the record file `utf8_path` (as the user named it) as the current database, read-only when
// asked, with the wait time kToolWaitMs. A failure names the path: one GBK cannot hold, or the
// store's code.
Status open_record_file(const std::string& utf8_path, bool read_only);

// The current database's table, when it is a ledger's: fields 2 to 6 named 类型, 金额, 付款方式,
// 时间 and 备注, of the kinds a bill takes (text or memo; any number; date-time). Invalid with
// what is wrong otherwise, NotFound when no database is open.
Result<BillTable> current_bill_table();

// Cuts `remark` on a character boundary to what the table takes; true when it was cut.
bool cut_remark(const BillTable& table, std::string* remark);
// The same for a view, which is left a view of the same bytes.
bool cut_remark(const BillTable& table, std::string_view* remark);

// An amount as the table gives it back once stored (a float or integer field loses precision).
double stored_amount(const BillTable& table, double amount);

// ---- The codec -------------------------------------------------------------------------------

// Which parts of a record a read takes: a walk that needs only sides and sums leaves the texts out,
// one that matches bills by their channel leaves the remark out.
enum class BillParts { All, WithoutRemark, WithoutTexts };

// Reads the current record of the current database into `*out` (its fields by name; the serial is
// not read). Returns the first field whose value has a kind a bill does not take (a type, channel
// or remark that is not a text, an amount that is not a number, a time that is not a date-time);
// the fields read before it are filled. Store failures leave their code as the last error.
std::optional<BillField> read_current_bill(Bill* out, BillParts parts = BillParts::All);
// For a walk of the live bills: the current record's serial into out->serial (negative for a
// deleted record, 0 when it could not be read) and, for a live record, the bill as above, all under
// one hold of the record's lock. A deleted record's fields are not read.
std::optional<BillField> read_current_live_bill(Bill* out, BillParts parts = BillParts::All);

// The values of a new record for `bill`, numbered `number` as the window numbers a new bill (the
// record count before it, plus 1). The values point into `texts`, which must outlive them.
using BillRow = std::array<Value, kBillFieldCount>;
BillRow bill_row(const Bill& bill, double number, std::array<Text, 3>* texts);

// Appends `group` to the current database as one group that reaches the disk whole or, after a
// cut, not at all; each bill numbered as the window numbers a new one. `serials` gets the serial of
// each bill stored: all of them, or none when the group was not stored. Returns the store's code (a
// remark that could not be stored leaves its bill, and the code).
DbCode append_bills(const std::vector<Bill>& group, std::vector<int32_t>* serials);

// A store code as the user reads it: "加锁文件失败 (-13)" (UTF-8).
std::string store_code_text(DbCode code);
// A store code as a Status with that text; success for Ok.
Status store_status(DbCode code);

}  // namespace pennacle
