#include "store/deferred_saves.h"

#include <algorithm>
#include <cstring>

namespace ms::store {

namespace {

// What a record's cell holds, one byte per column in the record's head.
enum Kind : std::uint8_t {
  kNone = 0,    // nothing kept for this column
  kNull = 1,    // Null
  kNumber = 2,  // the number's bits
  kLong = 3,    // where a text longer than a cell starts in texts_
  kShort = 16,  // kShort + n: a text of n bytes (up to 8) in the cell
};

constexpr unsigned kKindShift = 48;

unsigned kindOf(std::uint64_t head, std::size_t k) {
  return static_cast<unsigned>(head >> (kKindShift + 8 * k)) & 0xFF;
}

}  // namespace

DeferredSaves::DeferredSaves(std::string table, std::vector<std::size_t> columns, std::size_t limit)
    : table_(std::move(table)), columns_(std::move(columns)), limit_(std::max<std::size_t>(limit, 1)) {
  if (columns_.size() > kMaxColumns) columns_.erase(columns_.begin() + kMaxColumns, columns_.end());
  // Reserved, not touched: the memory grows with the records kept, and no
  // doubling ever holds two copies of them.
  entries_.reserve(limit_);
}

bool DeferredSaves::marked(std::int64_t rowid) const {
  const auto word = static_cast<std::size_t>(rowid) >> 6;
  return word < marks_.size() && (marks_[word] >> (rowid & 63) & 1) != 0;
}

// A pass that saves a record again does so soon after, in the order it
// kept them: the record after the last one found is tried first.
std::size_t DeferredSaves::search(std::int64_t rowid) {
  for (std::size_t i : {hint_, hint_ + 1})
    if (i < entries_.size() && rowidOf(entries_[i]) == rowid) return hint_ = i;
  for (std::size_t i = entries_.size(); i-- > 0;)
    if (rowidOf(entries_[i]) == rowid) return hint_ = i;
  return npos;
}

void DeferredSaves::store(Entry& entry, std::size_t k, const Value& value) {
  unsigned kind;
  std::uint64_t cell = 0;
  if (value.isNull()) {
    kind = kNull;
  } else if (value.isNumber()) {
    kind = kNumber;
    const double number = value.number();
    std::memcpy(&cell, &number, sizeof number);
  } else {
    const std::string text = value.text();
    if (text.size() <= sizeof cell) {
      kind = kShort + static_cast<unsigned>(text.size());
      std::memcpy(&cell, text.data(), text.size());
    } else {
      kind = kLong;
      cell = texts_.size();
      const auto size = static_cast<std::uint32_t>(text.size());
      texts_.append(reinterpret_cast<const char*>(&size), sizeof size);
      texts_ += text;
    }
  }
  const unsigned shift = kKindShift + 8 * static_cast<unsigned>(k);
  entry.head = (entry.head & ~(std::uint64_t{0xFF} << shift)) | std::uint64_t{kind} << shift;
  entry.cell[k] = cell;
}

bool DeferredSaves::keep(std::int64_t rowid, const std::vector<Value>& values,
                         const std::vector<bool>& changed) {
  Entry* entry = nullptr;
  if (marked(rowid)) {
    entry = &entries_[search(rowid)];
  } else {
    if (entries_.size() >= limit_ || texts_.size() >= limit_ * sizeof(Entry)) return false;
    entries_.push_back({static_cast<std::uint64_t>(rowid), {}});
    entry = &entries_.back();
    hint_ = entries_.size() - 1;
    const auto word = static_cast<std::size_t>(rowid) >> 6;
    if (marks_.size() <= word) marks_.resize(word + 1, 0);
    marks_[word] |= std::uint64_t{1} << (rowid & 63);
    sorted_ = false;
  }
  for (std::size_t k = 0; k < columns_.size(); ++k)
    if (changed[columns_[k]]) store(*entry, k, values[columns_[k]]);
  return true;
}

const Value* DeferredSaves::find(std::int64_t rowid, std::size_t column) {
  const std::size_t k = slotOf(column);
  if (k == columns_.size() || !marked(rowid)) return nullptr;
  const std::size_t entry = sorted_ ? locate(rowid) : search(rowid);
  return entry != npos && value(entry, k, found_) ? &found_ : nullptr;
}

void DeferredSaves::sort() {
  std::sort(entries_.begin(), entries_.end(),
            [](const Entry& a, const Entry& b) { return rowidOf(a) < rowidOf(b); });
  sorted_ = true;
  hint_ = 0;
}

std::size_t DeferredSaves::locate(std::int64_t rowid) {
  const std::size_t n = entries_.size();
  if (hint_ >= n || rowidOf(entries_[hint_]) > rowid)
    hint_ = static_cast<std::size_t>(
        std::partition_point(entries_.begin(), entries_.end(),
                             [rowid](const Entry& entry) { return rowidOf(entry) < rowid; }) -
        entries_.begin());
  while (hint_ < n && rowidOf(entries_[hint_]) < rowid) ++hint_;
  return hint_ < n && rowidOf(entries_[hint_]) == rowid ? hint_ : npos;
}

bool DeferredSaves::value(std::size_t entry, std::size_t k, Value& out) const {
  const Entry& e = entries_[entry];
  const unsigned kind = kindOf(e.head, k);
  const std::uint64_t cell = e.cell[k];
  if (kind == kNone) return false;
  if (kind == kNull) {
    out.setNull();
  } else if (kind == kNumber) {
    double number;
    std::memcpy(&number, &cell, sizeof number);
    out.setNumber(number);
  } else if (kind == kLong) {
    std::uint32_t size;
    std::memcpy(&size, texts_.data() + cell, sizeof size);
    out.setText(texts_.data() + cell + sizeof size, size);
  } else {
    out.setText(reinterpret_cast<const char*>(&cell), kind - kShort);
  }
  return true;
}

void DeferredSaves::clear() {
  entries_.clear();
  texts_.clear();
  marks_.assign(marks_.size(), 0);
  hint_ = 0;
  sorted_ = false;
}

}  // namespace ms::store
