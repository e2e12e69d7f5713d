#include "books/bills_model.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "ledger/amount_text.h"
#include "runtime/convert.h"
#include "ui/text_codec.h"

namespace pennacle {
namespace {

// A strict order on doubles that a NaN (written by some other program) cannot break: NaN first.
bool number_less(double a, double b) {
  if (std::isnan(a)) return !std::isnan(b);
  if (std::isnan(b)) return false;
  return a < b;
}

// Each interned text's place among all of them by GBK bytes (which orders common Chinese by
// pinyin), so a sort on a text column compares two integers per step.
std::vector<uint32_t> text_ranks(const BookRows& rows) {
  const std::vector<std::string>& texts = rows.texts();
  std::vector<uint32_t> ids(texts.size());
  std::iota(ids.begin(), ids.end(), 0u);
  std::sort(ids.begin(), ids.end(), [&](uint32_t a, uint32_t b) { return texts[a] < texts[b]; });
  std::vector<uint32_t> rank(texts.size());
  for (size_t k = 0; k < ids.size(); ++k) rank[ids[k]] = static_cast<uint32_t>(k);
  return rank;
}

template <class Less>
void sort_rows(std::vector<uint32_t>* order, Less less) {
  std::stable_sort(order->begin(), order->end(), less);
}

}  // namespace

QString grouped_amount_text(double amount) {
  const std::string text = exact_amount_text(amount);
  if (!std::isfinite(amount)) return QString::fromStdString(text);
  const size_t sign = text.front() == '-' ? 1 : 0;
  const size_t point = std::min(text.find('.'), text.size());
  std::string out = text.substr(0, sign);
  for (size_t i = sign; i < point; ++i) {
    if (i > sign && (point - i) % 3 == 0) out += ',';
    out += text[i];
  }
  out += text.substr(point);
  return QString::fromStdString(out);
}

QString grouped_sum_text(double sum) {
  // Beyond 1e8 a step of 1e-7 is near a double's own step; cents are what is left to keep there.
  const double scale = std::fabs(sum) < 1e8 ? 1e7 : 100;
  return grouped_amount_text(std::isfinite(sum) ? std::round(sum * scale) / scale : sum);
}

QString minute_text(double time) {
  const DateTimeParts p = date_time_parts(time);
  return QString::asprintf("%04d-%02d-%02d %02d:%02d", p.year, p.month, p.day, p.hour, p.minute);
}

BillsModel::BillsModel(QObject* parent) : QAbstractTableModel(parent), book_(std::make_shared<Book>()) {}

void BillsModel::set_rows(std::shared_ptr<const Book> book, const std::vector<uint32_t>& passed) {
  beginResetModel();
  if (book != book_) {
    book_ = std::move(book);
    make_order();
  }
  pick(passed);
  endResetModel();
}

void BillsModel::pick(const std::vector<uint32_t>& passed) {
  const size_t n = book_->rows.size();
  std::vector<uint8_t> in(n);
  for (uint32_t i : passed) {
    if (i < n) in[i] = 1;
  }
  shown_.clear();
  shown_.reserve(passed.size());
  for (uint32_t i : order_all_) {
    if (in[i]) shown_.push_back(i);
  }
  shown_.shrink_to_fit();
}

// Sorts ascending on the column (equal keys stay in row order, which is serial order), then turns
// the whole order round for descending: newest first, and among bills of one moment the later one.
void BillsModel::make_order() {
  const BookRows& rows = book_->rows;
  order_all_.resize(rows.size());
  std::iota(order_all_.begin(), order_all_.end(), 0u);
  const auto& r = rows.rows();
  switch (column_) {
    case kTime:
      sort_rows(&order_all_, [&](uint32_t a, uint32_t b) { return number_less(r[a].time, r[b].time); });
      break;
    case kAmount:
      sort_rows(&order_all_, [&](uint32_t a, uint32_t b) { return number_less(r[a].amount, r[b].amount); });
      break;
    case kRemark:
      sort_rows(&order_all_, [&](uint32_t a, uint32_t b) { return rows.remark(r[a]) < rows.remark(r[b]); });
      break;
    default: {
      const std::vector<uint32_t> rank = text_ranks(rows);
      const auto key = [&](uint32_t i) -> uint32_t {
        if (column_ == kType) return rank[r[i].type];
        return rank[column_ == kChannel ? r[i].channel : r[i].category];
      };
      sort_rows(&order_all_, [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
    }
  }
  if (order_ == Qt::DescendingOrder) std::reverse(order_all_.begin(), order_all_.end());
}

void BillsModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kColumnCount) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<int32_t> serials;
  for (const QModelIndex& i : before) serials.push_back(serial_at(i.row()).value_or(0));
  column_ = column;
  order_ = order;
  make_order();
  const std::vector<uint32_t> passed = shown_;
  pick(passed);
  QModelIndexList after;
  for (size_t k = 0; k < serials.size(); ++k) {
    const std::optional<int> row = row_of(serials[k]);
    after.push_back(row ? index(*row, before[static_cast<qsizetype>(k)].column()) : QModelIndex());
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::optional<int32_t> BillsModel::serial_at(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= shown_.size()) return std::nullopt;
  return book_->rows[shown_[static_cast<size_t>(row)]].serial;
}

std::optional<int> BillsModel::row_of(int32_t serial) const {
  const std::optional<size_t> i = book_->rows.find(serial);
  if (!i) return std::nullopt;
  const auto it = std::find(shown_.begin(), shown_.end(), static_cast<uint32_t>(*i));
  if (it == shown_.end()) return std::nullopt;
  return static_cast<int>(it - shown_.begin());
}

int BillsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int BillsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QString BillsModel::cell_text(const BookRow& r, int column) const {
  const BookRows& rows = book_->rows;
  switch (column) {
    case kTime:
      return minute_text(r.time);
    case kType:
      return to_qstring(rows.text(r.type));
    case kAmount:
      return grouped_amount_text(r.amount);
    case kChannel:
      return to_qstring(rows.text(r.channel));
    case kCategory:
      return to_qstring(rows.text(r.category));
    case kRemark:
      return to_qstring(rows.remark(r));
    default:
      return {};
  }
}

QVariant BillsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || static_cast<size_t>(index.row()) >= shown_.size()) return {};
  const BookRow& r = book_->rows[shown_[static_cast<size_t>(index.row())]];
  switch (role) {
    case Qt::DisplayRole:
      return cell_text(r, index.column());
    case Qt::ToolTipRole:
      return index.column() == kRemark && r.remark_size > 0 ? cell_text(r, kRemark) : QVariant();
    case Qt::TextAlignmentRole:
      if (index.column() == kAmount) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
      return {};
  }
}

QVariant BillsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  static const char* const kNames[kColumnCount] = {"时间", "类型", "金额", "付款方式", "分类", "备注"};
  if (section < 0 || section >= kColumnCount) return {};
  return QString::fromUtf8(kNames[section]);
}

}  // namespace pennacle
