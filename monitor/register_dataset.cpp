#include "monitor/register_dataset.h"

#include "link/platform/regular_file.h"
#include "monitor/register_codec.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <numeric>
#include <unordered_map>

namespace kt {

namespace {

// Register description files are tens of kilobytes; anything far larger is not one, and reading
// it whole would only exhaust memory.
constexpr uint64_t MaxFileBytes = 32u << 20;

// Lets the column map be searched with a string_view (no temporary string per lookup).
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

bool isIntegerFieldType(std::string_view t) {
    static constexpr std::string_view kinds[] = {"i1", "i2", "i4", "i8", "ui1", "ui2", "ui4", "ui8"};
    return std::find(std::begin(kinds), std::end(kinds), t) != std::end(kinds);
}

} // namespace

std::optional<int64_t> parseDatasetInteger(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

namespace detail {

struct DatasetTable {
    using Index = std::unordered_map<std::string, std::vector<uint32_t>>;

    std::string fileName;
    std::vector<DatasetColumn> columns;
    std::unordered_map<std::string, int, TextHash, std::equal_to<>> columnByName;
    uint32_t rows = 0;
    std::vector<std::string> cells; // row-major, rows x columns
    std::vector<int64_t> numbers;   // the cells read as numbers, where hasNumber
    std::vector<uint8_t> hasNumber;

    Index byRegister;        // REGISTER, file order
    Index byTranslation;     // TRANSLATIONTYPE + TRANSLATIONINDEX, file order
    Index byTranslationType; // TRANSLATIONTYPE, by TRANSLATIONINDEX
    Index byDependencyList;  // D_LIST, by D_VALUE

    int column(std::string_view name) const {
        auto it = columnByName.find(name);
        return it == columnByName.end() ? -1 : it->second;
    }
    size_t at(int col, uint32_t row) const { return static_cast<size_t>(row) * columns.size() + col; }
    std::string_view cell(int col, uint32_t row) const {
        return col < 0 ? std::string_view() : std::string_view(cells[at(col, row)]);
    }
    std::optional<int64_t> number(int col, uint32_t row) const {
        if (col < 0 || !hasNumber[at(col, row)]) return std::nullopt;
        return numbers[at(col, row)];
    }
    bool integerColumn(int col) const { return col >= 0 && columns[col].integer; }

    // Index key of a cell; two cells match an equality filter exactly when their keys are equal.
    void appendCellKey(std::string& key, int col, uint32_t row) const {
        if (integerColumn(col) && hasNumber[at(col, row)]) {
            key += '#';
            key += std::to_string(numbers[at(col, row)]);
        } else {
            key += '$';
            key += cell(col, row);
        }
    }
    void appendQueryKey(std::string& key, int col, std::string_view value) const {
        if (integerColumn(col)) {
            if (auto n = parseDatasetInteger(value)) {
                key += '#';
                key += std::to_string(*n);
                return;
            }
        }
        key += '$';
        key += value;
    }

    // Rows in the order of a column (stable).
    std::vector<uint32_t> ordered(std::vector<uint32_t> rowList, int col) const {
        if (col < 0) return rowList;
        if (columns[col].integer) {
            std::stable_sort(rowList.begin(), rowList.end(), [&](uint32_t a, uint32_t b) {
                auto na = number(col, a), nb = number(col, b);
                if (!na || !nb) return !na && nb; // empty and non-numeric cells first
                return *na < *nb;
            });
        } else {
            std::stable_sort(rowList.begin(), rowList.end(),
                             [&](uint32_t a, uint32_t b) { return cell(col, a) < cell(col, b); });
        }
        return rowList;
    }

    std::vector<uint32_t> allRows() const {
        std::vector<uint32_t> r(rows);
        std::iota(r.begin(), r.end(), 0u);
        return r;
    }

    void buildIndex(Index& index, std::initializer_list<int> keyColumns, int orderColumn) const {
        std::string key;
        for (uint32_t row : ordered(allRows(), orderColumn)) {
            key.clear();
            for (int col : keyColumns) {
                if (!key.empty()) key += '\0';
                appendCellKey(key, col, row);
            }
            index[key].push_back(row);
        }
    }

    void buildIndexes() {
        const int reg = column("REGISTER"), type = column("TRANSLATIONTYPE"),
                  idx = column("TRANSLATIONINDEX");
        const int list = column("D_LIST"), value = column("D_VALUE");
        buildIndex(byRegister, {reg}, -1);
        buildIndex(byTranslation, {type, idx}, -1);
        buildIndex(byTranslationType, {type}, idx);
        buildIndex(byDependencyList, {list}, value);
    }
};

} // namespace detail

using detail::DatasetTable;

// ---- DatasetRow ----

std::string_view DatasetRow::text(std::string_view column) const {
    return table_->cell(table_->column(column), row_);
}
std::string_view DatasetRow::text(int column) const {
    return table_->cell(column, row_);
}
std::optional<int64_t> DatasetRow::number(std::string_view column) const {
    return table_->number(table_->column(column), row_);
}
std::optional<int64_t> DatasetRow::number(int column) const {
    return table_->number(column, row_);
}

// ---- RowView ----

DatasetRow RowView::iterator::operator*() const {
    return DatasetRow(view_->table_.get(), *pos_);
}
DatasetRow RowView::operator[](size_t i) const {
    return DatasetRow(table_.get(), rows_[i]);
}
std::optional<DatasetRow> RowView::first() const {
    if (rows_.empty()) return std::nullopt;
    return DatasetRow(table_.get(), rows_.front());
}

// ---- RegisterDataset ----

RegisterDataset::RegisterDataset() : table_(std::make_shared<DatasetTable>()) {}

bool RegisterDataset::loadFile(const std::string& path, std::string* error) {
    std::string content;
    // Only a regular file, and no larger than a register file can be: a FIFO, a device or a
    // folder gets a message of its own instead of a hang or an exhausted memory.
    if (platform::FileResult r = platform::readRegularFile(path, MaxFileBytes, content, "register file");
        !r.ok()) {
        if (error) *error = path + ": cannot open the file: " + r.reason;
        return false;
    }
    std::string why;
    if (!loadText(content, &why, path)) {
        if (error) *error = path + ": " + why;
        return false;
    }
    return true;
}

bool RegisterDataset::loadText(std::string_view xml, std::string* error, std::string fileName) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    pugi::xml_document doc;
    pugi::xml_parse_result parsed =
        doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_auto);
    if (!parsed)
        return fail(std::string("not well-formed XML (") + parsed.description() + ") at byte " +
                    std::to_string(parsed.offset));
    pugi::xml_node packet = doc.child("DATAPACKET");
    if (!packet) return fail("not an XML data packet (no DATAPACKET element)");
    pugi::xml_node fields = packet.child("METADATA").child("FIELDS");
    if (!fields) return fail("the data packet has no METADATA/FIELDS");

    auto t = std::make_shared<DatasetTable>();
    t->fileName = std::move(fileName);
    for (pugi::xml_node field : fields.children("FIELD")) {
        std::string name = toValidUtf8(field.attribute("attrname").value());
        if (name.empty()) return fail("FIELD " + std::to_string(t->columns.size() + 1) + " has no attrname");
        if (t->columnByName.count(name)) return fail("column " + name + " is declared twice");
        std::string type = field.attribute("fieldtype").value();
        bool integer = isIntegerFieldType(type);
        t->columnByName.emplace(name, static_cast<int>(t->columns.size()));
        t->columns.push_back({std::move(name), std::move(type), integer});
    }

    const size_t ncols = t->columns.size();
    // Attribute names map to columns through string views of the column names (stable now).
    std::unordered_map<std::string_view, int> byName;
    for (size_t c = 0; c < ncols; ++c) byName.emplace(t->columns[c].name, static_cast<int>(c));
    for (pugi::xml_node row : packet.child("ROWDATA").children("ROW")) {
        size_t base = t->cells.size();
        t->cells.resize(base + ncols);
        for (pugi::xml_attribute a : row.attributes()) {
            auto it = byName.find(a.name());
            if (it != byName.end()) t->cells[base + it->second] = toValidUtf8(a.value());
        }
        ++t->rows;
    }
    t->numbers.assign(t->cells.size(), 0);
    t->hasNumber.assign(t->cells.size(), 0);
    for (size_t i = 0; i < t->cells.size(); ++i) {
        if (auto n = parseDatasetInteger(t->cells[i])) {
            t->numbers[i] = *n;
            t->hasNumber[i] = 1;
        }
    }
    t->buildIndexes();
    table_ = std::move(t);
    return true;
}

const std::string& RegisterDataset::fileName() const {
    return table_->fileName;
}
bool RegisterDataset::loaded() const {
    return !table_->columns.empty();
}
size_t RegisterDataset::rowCount() const {
    return table_->rows;
}
const std::vector<DatasetColumn>& RegisterDataset::columns() const {
    return table_->columns;
}
bool RegisterDataset::hasColumn(std::string_view name) const {
    return table_->column(name) >= 0;
}
int RegisterDataset::columnIndex(std::string_view name) const {
    return table_->column(name);
}
DatasetRow RegisterDataset::row(size_t index) const {
    return DatasetRow(table_.get(), static_cast<uint32_t>(index));
}

RowView RegisterDataset::select(std::span<const Condition> where, std::string_view orderBy) const {
    const DatasetTable& t = *table_;
    struct Test {
        int col;
        std::optional<int64_t> number; // set when the column is numeric and the value a number
        std::string_view text;
        bool equal;
    };
    std::vector<Test> tests;
    tests.reserve(where.size());
    for (const Condition& c : where) {
        int col = t.column(c.column);
        std::optional<int64_t> n;
        if (t.integerColumn(col)) n = parseDatasetInteger(c.value);
        tests.push_back({col, n, c.value, c.equal});
    }
    std::vector<uint32_t> rows;
    for (uint32_t r = 0; r < t.rows; ++r) {
        bool keep = true;
        for (const Test& test : tests) {
            bool eq;
            if (test.number) {
                auto n = t.number(test.col, r);
                eq = n && *n == *test.number;
            } else {
                eq = t.cell(test.col, r) == test.text;
            }
            if (eq != test.equal) {
                keep = false;
                break;
            }
        }
        if (keep) rows.push_back(r);
    }
    RowView view;
    view.table_ = table_;
    auto owned = std::make_shared<std::vector<uint32_t>>(t.ordered(std::move(rows), t.column(orderBy)));
    view.rows_ = *owned;
    view.owned_ = std::move(owned);
    return view;
}

RowView RegisterDataset::viewOf(std::span<const uint32_t> rows) const {
    RowView view;
    view.table_ = table_;
    view.rows_ = rows; // points into the shared table's index
    return view;
}

namespace {

std::span<const uint32_t> find(const DatasetTable::Index& index, const std::string& key) {
    auto it = index.find(key);
    if (it == index.end()) return {};
    return it->second;
}

} // namespace

RowView RegisterDataset::rowsOfRegister(int64_t reg) const {
    return rowsOfRegister(std::to_string(reg));
}

RowView RegisterDataset::rowsOfRegister(std::string_view reg) const {
    std::string key;
    table_->appendQueryKey(key, table_->column("REGISTER"), reg);
    return viewOf(find(table_->byRegister, key));
}

RowView RegisterDataset::translationRows(std::string_view type, std::string_view index) const {
    std::string key;
    table_->appendQueryKey(key, table_->column("TRANSLATIONTYPE"), type);
    key += '\0';
    table_->appendQueryKey(key, table_->column("TRANSLATIONINDEX"), index);
    return viewOf(find(table_->byTranslation, key));
}

RowView RegisterDataset::translationList(std::string_view type) const {
    std::string key;
    table_->appendQueryKey(key, table_->column("TRANSLATIONTYPE"), type);
    return viewOf(find(table_->byTranslationType, key));
}

RowView RegisterDataset::dependencyList(std::string_view list) const {
    std::string key;
    table_->appendQueryKey(key, table_->column("D_LIST"), list);
    return viewOf(find(table_->byDependencyList, key));
}

} // namespace kt
