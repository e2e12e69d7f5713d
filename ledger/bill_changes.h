// Whole changes of one bill on a ledger named by its path: each opens the ledger for writing, makes
// its one change under the store's locks (the side files' lock first, as every writer takes it),
// and closes the ledger again, so the ledger window and kdbtool beside it stay right. The second
// window's edits, deletes and category changes, and their undo, are these.
//
// Texts are GBK; paths are UTF-8 as the user names them; messages are UTF-8 and name the bill.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ledger/bill.h"
#include "ledger/bill_edit.h"
#include "ledger/recycle_bin.h"
#include "platform/file.h"
#include "platform/status.h"

namespace pennacle {

// The payment channels the ledger window's entry offers (GBK), in its order.
const std::vector<std::string>& entry_channels();

// Bytes a text of the bill may take in `table`: a text field's width, the remark limit, or no
// limit (SIZE_MAX) for a type or channel in a memo field.
size_t bill_text_limit(const BillTable& table, BillField field);
// Cuts `gbk` on a character boundary to `limit` bytes; true when it was cut.
bool cut_bill_text(size_t limit, std::string* gbk);

// A bill's category as the category file holds it: an entry (its name, and whether a person set
// it) or none (未分类).
struct CategoryState {
  bool has_entry = false;
  std::string name;  // GBK; empty without an entry
  bool by_hand = false;
  bool operator==(const CategoryState&) const = default;
};

// Edits the bill with `serial` as edit_bill does (its category follows a change of its key).
Result<BillEdit> edit_ledger_bill(const std::string& ledger_utf8, int32_t serial, const BillChange& change);

// Deletes the bill with `serial` into the recycle bin (deleted at `now`); what the bin holds of it
// now. Nothing is deleted on a failure.
Result<BinEntry> delete_ledger_bill(const std::string& ledger_utf8, int32_t serial, double now,
                                    FileSystem* fs = nullptr);

// Puts the category of the live bill with `serial` in the state `to`: an entry named to.name
// (to.by_hand as given), or none at all, so that an earlier state comes back exactly. Returns the
// state before. A name category_name_problem refuses is Invalid and nothing is written.
Result<CategoryState> set_ledger_category(const std::string& ledger_utf8, int32_t serial,
                                          const CategoryState& to, FileSystem* fs = nullptr);

// The category state of the live bill with `serial`.
Result<CategoryState> ledger_category(const std::string& ledger_utf8, int32_t serial,
                                      FileSystem* fs = nullptr);

}  // namespace pennacle
