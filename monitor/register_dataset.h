#pragma once

// The register description table: the rows of one register description file (an XML data
// packet), kept with their column texts and field types, with the queries the views make
// (filter by column equality/inequality, order by a column) and indexes for the lookups that run
// on every poll. Copies are cheap and share the loaded rows; the table never changes after
// loading, so copies may be read from several threads.

#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

struct DatasetColumn {
    std::string name;      // attrname
    std::string fieldType; // fieldtype as written ("string", "i4", ...)
    bool integer = false;  // i1..i8, ui1..ui8: compared and ordered as numbers
};

// One condition of a filter: `column` = `value` (or <> when `equal` is false). On an integer
// column a value that reads as a number matches cells of that number ("05" matches "5"); any
// other value matches cells of exactly that text (so "" matches empty cells). An absent column
// reads as empty in every row.
struct Condition {
    std::string_view column;
    std::string_view value;
    bool equal = true;
};
inline Condition equals(std::string_view column, std::string_view value) {
    return {column, value, true};
}
inline Condition differs(std::string_view column, std::string_view value) {
    return {column, value, false};
}

// Reads a number as the table does: blanks around it allowed, an optional sign, decimal digits.
std::optional<int64_t> parseDatasetInteger(std::string_view text);

class RegisterDataset;
namespace detail {
struct DatasetTable;
}

// One row. Valid while the dataset (or a view of it) that produced it is alive.
class DatasetRow {
public:
    // Text of a column; "" for an absent attribute or an absent column.
    std::string_view text(std::string_view column) const;
    std::string_view text(int column) const;
    // The cell as a number; nothing when it is empty or not a number.
    std::optional<int64_t> number(std::string_view column) const;
    std::optional<int64_t> number(int column) const;
    int64_t numberOr(std::string_view column, int64_t fallback) const {
        return number(column).value_or(fallback);
    }
    // Position of the row in the file (0 = the first ROW element).
    uint32_t index() const { return row_; }

private:
    friend class RegisterDataset;
    friend class RowView;
    DatasetRow(const detail::DatasetTable* table, uint32_t row) : table_(table), row_(row) {}
    const detail::DatasetTable* table_;
    uint32_t row_;
};

// The rows a query selected, in the query's order. Keeps the table alive.
class RowView {
public:
    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = DatasetRow;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = DatasetRow;
        iterator() = default;
        DatasetRow operator*() const;
        iterator& operator++() {
            ++pos_;
            return *this;
        }
        iterator operator++(int) {
            iterator old = *this;
            ++pos_;
            return old;
        }
        bool operator==(const iterator& other) const { return pos_ == other.pos_; }

    private:
        friend class RowView;
        iterator(const RowView* view, const uint32_t* pos) : view_(view), pos_(pos) {}
        const RowView* view_ = nullptr;
        const uint32_t* pos_ = nullptr;
    };

    RowView() = default;
    size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }
    DatasetRow operator[](size_t i) const;
    std::optional<DatasetRow> first() const;
    iterator begin() const { return iterator(this, rows_.data()); }
    iterator end() const { return iterator(this, rows_.data() + rows_.size()); }
    // File positions of the rows, in order.
    std::span<const uint32_t> rowIndexes() const { return rows_; }

private:
    friend class RegisterDataset;
    std::shared_ptr<const detail::DatasetTable> table_;
    std::shared_ptr<const std::vector<uint32_t>>
        owned_; // rows of a query; index lookups point into the table
    std::span<const uint32_t> rows_;
};

class RegisterDataset {
public:
    RegisterDataset();

    // Loads a data packet. On failure the dataset is left as it was and `error` says why.
    bool loadFile(const std::string& path, std::string* error = nullptr);
    bool loadText(std::string_view xml, std::string* error = nullptr, std::string fileName = {});

    // The file the rows came from (empty for loadText without a name or before loading).
    const std::string& fileName() const;
    bool loaded() const;
    size_t rowCount() const;
    const std::vector<DatasetColumn>& columns() const;
    bool hasColumn(std::string_view name) const;
    int columnIndex(std::string_view name) const; // -1 when absent
    DatasetRow row(size_t index) const;

    // All rows that meet every condition, ordered by `orderBy` (numbers for integer columns,
    // byte-wise text otherwise, empty and non-numeric cells of an integer column first; stable, so
    // equal keys keep file order). No order, or an absent column: file order.
    RowView select(std::span<const Condition> where, std::string_view orderBy = {}) const;
    RowView select(std::initializer_list<Condition> where, std::string_view orderBy = {}) const {
        return select(std::span<const Condition>(where.begin(), where.size()), orderBy);
    }
    RowView all(std::string_view orderBy = {}) const { return select({}, orderBy); }
    std::optional<DatasetRow> first(std::initializer_list<Condition> where,
                                    std::string_view orderBy = {}) const {
        return select(where, orderBy).first();
    }

    // Index lookups; each gives exactly what the plain query in its comment gives.
    // select({REGISTER = reg}, "REGISTER")
    RowView rowsOfRegister(int64_t reg) const;
    RowView rowsOfRegister(std::string_view reg) const;
    // select({TRANSLATIONTYPE = type, TRANSLATIONINDEX = index})
    RowView translationRows(std::string_view type, std::string_view index) const;
    // select({TRANSLATIONTYPE = type}, "TRANSLATIONINDEX")
    RowView translationList(std::string_view type) const;
    // select({D_LIST = list}, "D_VALUE")
    RowView dependencyList(std::string_view list) const;

private:
    RowView viewOf(std::span<const uint32_t> rows) const;
    std::shared_ptr<const detail::DatasetTable> table_;
};

} // namespace kt
