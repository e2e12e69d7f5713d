// The ledger's bills as a plain-text journal for beancount, hledger or ledger (UTF-8).
//
// Each bill is one transaction on its date: the category's account takes the amount on an expense
// (the channel's gives it), the channel's account takes it on an income. The channel's side posts
// to the bill's method account when it has one (a rule's methodAccount), else to the channel's
// account (the mapping, else the defaults). A method account beancount cannot take (its first part
// is none of beancount's roots) is set aside there for the channel's account, with a note: the
// journal still passes bean-check, and the other formats keep it. Amounts are exact
// (exact_amount_text) in CNY. The trade time, channel, serial, category and remark go with it as
// metadata (beancount) or tags (hledger, ledger: one "; key: value" comment line each, the remark
// as note); the counterpart and goods, when known, are the payee and narration (hledger and ledger:
// the description "counterpart | goods"). In metadata and tags a backslash is written "\\" and a
// line break "\n"; beancount strings also escape quotes. A description never carries ";" or "|"
// of its own: they are written as the full-width "；" and "｜", and line breaks as spaces.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/journal_accounts.h"
#include "ledger/journal_bills.h"
#include "platform/status.h"

namespace pennacle {

struct Journal {
  std::string text;                // UTF-8
  std::vector<int32_t> left_out;   // serials of bills whose amount is no finite number
  std::vector<std::string> notes;  // as JournalWriter::notes()
};

// The journal of `bills` in `format`, sorted by time (then serial). Every account used is declared
// (beancount: opened on the day of its first use). Invalid when a mapping names an account the
// format cannot take.
Result<Journal> write_journal(const std::vector<JournalBill>& bills, JournalFormat format,
                              const AccountMap& accounts);

// The same journal of packed bills, written a piece at a time: everything that can fail is done
// before the first piece, so a failure has written nothing.
class JournalWriter {
 public:
  // Sorts the bills of `rows` (which must outlive the writer) and names every account they post to.
  static Result<JournalWriter> make(const JournalRows& rows, JournalFormat format,
                                    const AccountMap& accounts);

  JournalWriter();  // the journal of no bills in beancount's form
  JournalWriter(JournalWriter&&) noexcept;
  JournalWriter& operator=(JournalWriter&&) noexcept;
  ~JournalWriter();

  // Serials of the bills left out, in row order: their amount is no finite number.
  const std::vector<int32_t>& left_out() const;
  // What the user should know of the accounts (UTF-8): each method account beancount cannot take,
  // set aside for the channel's account.
  const std::vector<std::string>& notes() const;
  // Gives the journal's text to `out` in pieces of some 64 KiB.
  void write(const std::function<void(std::string_view)>& out) const;

  struct Plan;  // the bills in order with their accounts

 private:
  explicit JournalWriter(std::unique_ptr<Plan> plan);
  std::unique_ptr<Plan> plan_;
};

}  // namespace pennacle
