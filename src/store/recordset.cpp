#include "store/recordset.h"

#include "store/table_cursor.h"

namespace ms::store {

Recordset::Recordset(std::unique_ptr<TableCursor> cursor) : cursor_(std::move(cursor)) {}
Recordset::~Recordset() = default;

std::int64_t Recordset::recordCount() { return cursor_->recordCount(); }
void Recordset::setIndex(const std::string& name) { cursor_->setIndex(name); }
void Recordset::seek(const Value& key) { cursor_->seek(key); }
bool Recordset::noMatch() const { return cursor_->noMatch(); }
void Recordset::moveFirst() { cursor_->moveFirst(); }
void Recordset::moveNext() { cursor_->moveNext(); }
void Recordset::moveLast() { cursor_->moveLast(); }
bool Recordset::eof() const { return cursor_->eof(); }
bool Recordset::bof() const { return cursor_->bof(); }
Place Recordset::place() { return cursor_->place(); }
bool Recordset::before(const Place& a, const Place& b) const { return cursor_->before(a, b); }
const Value& Recordset::field(const std::string& name) { return cursor_->field(name); }
bool Recordset::holdsNumbers(const std::string& name) { return cursor_->holdsNumbers(name); }

bool Recordset::holdsTexts(const std::string& name) { return cursor_->holdsTexts(name); }
void Recordset::edit() { cursor_->edit(); }
void Recordset::addNew() { cursor_->addNew(); }
void Recordset::set(const std::string& name, const Value& value) { cursor_->set(name, value); }
void Recordset::update() { cursor_->update(); }
void Recordset::cancelUpdate() { cursor_->cancelUpdate(); }

}  // namespace ms::store
