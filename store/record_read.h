// Reading a record whole: the fields a walk wants and the serial, under one hold of the record's
// lock, where db_read_field (record_store.h) takes one hold per field. A second process on the file
// makes every hold a lock call, a read and an unlock call; a walk of the list then costs one of
// each per record instead of one per field, and sees each record as one write left it, never
// fields of two versions of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/value.h"
#include "store/errors.h"

namespace pennacle {

// The fields of one record as db_read_record read them. Texts and byte sets are views into this
// object's buffers, valid until its next read or its end; kept from record to record, the buffers
// stop growing after the first few and a walk allocates nothing more.
class RecordRead {
 public:
  // The record's serial, negative for a deleted record; 0 when the record could not be read.
  int32_t serial() const { return serial_; }
  // Fields read: one for each asked for, in the order asked.
  size_t size() const { return fields_.size(); }
  // The kind db_read_field gives for field i: a memo field is a text.
  Kind kind(size_t i) const { return fields_[i].value.kind_code(); }
  // A number, logical, date-time or routine field's value; for a text or byte set only its kind.
  const Value& scalar(size_t i) const { return fields_[i].value; }
  // A text's bytes up to its first zero byte, or a byte set's bytes; empty for other kinds.
  std::string_view bytes(size_t i) const;
  // Field i as db_read_field gives it: a text or byte set in a new block the caller owns.
  [[nodiscard]] Value value(size_t i) const;

 private:
  friend class RecordReader;
  struct Field {
    Value value;
    size_t index = 0;           // the field's place in the table
    std::string chain;          // a memo's or byte set's bytes
    size_t at = 0, length = 0;  // a text field's bytes in `record_`
    bool from_chain = false;
  };
  int32_t serial_ = 0;
  std::vector<uint8_t> record_;  // the record's bytes, from its serial to the last field asked for
  std::vector<Field> fields_;
};

// db_read_record: the fields `names` (each a name or a 1-based number, as db_read_field takes one)
// of the current record of the current database, and its serial, all under one hold of the record's
// lock: one lock, one read of the record's bytes, its chains read under the same hold, one unlock.
// Sets the last error and returns it: Ok, NoCurrentRecord, SeekFailed at or past the end of the file,
// FieldReadFailed for a record the file ends inside, a lock or file code (LockFile at once with the
// wait time 0, where the first db_read_field of the record would meet it), AuxAccess for a damaged
// chain. A field that could not be read is the empty value of its kind, and so is every field when
// the record could not be read. No current database, a name no field has, or an argument of another
// kind end the program as they do in db_read_field.
//
// Records::Live: a walk that wants only the live records learns a record's serial and its fields in
// one hold; a deleted record's fields (whose chains may be freed and reused) are left unread, empty.
enum class Records { All, Live };
DbCode db_read_record(std::span<const Value> names, RecordRead* out, Records which = Records::All);

}  // namespace pennacle
