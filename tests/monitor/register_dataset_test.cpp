#include "monitor/register_dataset.h"

#include "regfile_test_support.h"

#include <gtest/gtest.h>

#include <set>

using namespace kt;
using kt::test::dataPacket;

namespace {

std::vector<uint32_t> indexes(const RowView& view) {
    return {view.rowIndexes().begin(), view.rowIndexes().end()};
}

// Rows chosen so that numeric and text order, stability, empty and non-numeric cells all matter.
const std::vector<std::string> Columns = {
    "NAME",   "NUM:i4",    "TXT", "REGISTER:i4", "TRANSLATIONTYPE", "TRANSLATIONINDEX:i4", "TRANSLATIONTEXT",
    "D_LIST", "D_VALUE:i4"};
const std::vector<std::string> Rows = {
    R"(NAME="a" NUM="10" TXT="10" REGISTER="5")",                                                   // 0
    R"(NAME="b" NUM="2" TXT="2" REGISTER="05")",                                                    // 1
    R"(NAME="c" TXT="x" REGISTER="7" D_LIST="L" D_VALUE="3")",                                      // 2
    R"(NAME="d" NUM="abc" TXT="" REGISTER=" 5 ")",                                                  // 3
    R"(NAME="e" NUM="-3" TXT="10" TRANSLATIONTYPE="T" TRANSLATIONINDEX="1" TRANSLATIONTEXT="one")", // 4
    R"(NAME="f" NUM="2" TXT="b" TRANSLATIONTYPE="T" TRANSLATIONINDEX="0" TRANSLATIONTEXT="zero")",  // 5
    R"(NAME="g" NUM="10" TXT="B" TRANSLATIONTYPE="T" TRANSLATIONINDEX="01" TRANSLATIONTEXT="")",    // 6
    R"(NAME="h" NUM=" 2" REGISTER="x5" D_LIST="L" D_VALUE="1")",                                    // 7
    R"(NAME="i" REGISTER="" D_LIST="L" D_VALUE="1")",                                               // 8
    R"(NAME="j" NUM="999" TRANSLATIONTYPE="U" TRANSLATIONINDEX="10" D_LIST="L")",                   // 9
    R"(NAME="k" NUM="+4" TRANSLATIONTYPE="T" TRANSLATIONINDEX="x" D_LIST="M" D_VALUE="-1")",        // 10
};

RegisterDataset sample() {
    RegisterDataset ds;
    std::string error;
    EXPECT_TRUE(ds.loadText(dataPacket(Columns, Rows), &error, "sample.xml")) << error;
    return ds;
}

} // namespace

TEST(RegisterDataset, KeepsColumnsFieldTypesAndTexts) {
    RegisterDataset ds = sample();
    EXPECT_EQ(ds.fileName(), "sample.xml");
    EXPECT_EQ(ds.rowCount(), Rows.size());
    ASSERT_EQ(ds.columns().size(), Columns.size());
    EXPECT_EQ(ds.columns()[1].name, "NUM");
    EXPECT_EQ(ds.columns()[1].fieldType, "i4");
    EXPECT_TRUE(ds.columns()[1].integer);
    EXPECT_FALSE(ds.columns()[2].integer);
    EXPECT_TRUE(ds.hasColumn("TXT"));
    EXPECT_FALSE(ds.hasColumn("txt")); // column names are exact
    EXPECT_EQ(ds.columnIndex("NOPE"), -1);

    DatasetRow c = ds.row(2);
    EXPECT_EQ(c.text("NAME"), "c");
    EXPECT_EQ(c.text("NUM"), ""); // absent attribute
    EXPECT_FALSE(c.number("NUM"));
    EXPECT_EQ(c.numberOr("NUM", 42), 42);
    EXPECT_EQ(c.text("NOPE"), ""); // absent column
    EXPECT_EQ(ds.row(3).number("REGISTER"), 5);
    EXPECT_FALSE(ds.row(3).number("NUM"));
    EXPECT_EQ(ds.row(10).number("NUM"), 4);
    EXPECT_EQ(ds.row(10).index(), 10u);
}

TEST(RegisterDataset, FiltersByEqualityAndInequalityCombinedWithAnd) {
    RegisterDataset ds = sample();
    struct Case {
        const char* what;
        std::vector<Condition> where;
        std::vector<uint32_t> rows;
    } cases[] = {
        {"no filter", {}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {"integer column compares numbers", {equals("NUM", "2")}, {1, 5, 7}},
        {"integer column: 02 is 2", {equals("NUM", "02")}, {1, 5, 7}},
        {"integer column: +4 is 4", {equals("NUM", "4")}, {10}},
        {"integer column: non-number matches its text", {equals("NUM", "abc")}, {3}},
        {"integer column: empty matches empty cells", {equals("NUM", "")}, {2, 8}},
        {"text column compares texts", {equals("TXT", "10")}, {0, 4}},
        {"text column: case matters", {equals("TXT", "B")}, {6}},
        {"text column: 010 is not 10", {equals("TXT", "010")}, {}},
        {"inequality", {differs("TXT", "10")}, {1, 2, 3, 5, 6, 7, 8, 9, 10}},
        {"two conditions", {equals("NUM", "10"), equals("TXT", "10")}, {0}},
        {"equality and inequality", {equals("NUM", "2"), differs("NAME", "f")}, {1, 7}},
        {"register 5 in all spellings", {equals("REGISTER", "5")}, {0, 1, 3}},
        {"absent column reads empty", {equals("NOPE", "")}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {"absent column matches no text", {equals("NOPE", "x")}, {}},
        {"absent column differs from a text", {differs("NOPE", "x")}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(indexes(ds.select(c.where)), c.rows);
    }
}

TEST(RegisterDataset, OrdersNumbersAsNumbersTextsAsTextsAndKeepsTies) {
    RegisterDataset ds = sample();
    // Empty and non-numeric first (file order among them), then -3, 2 2 2, 4, 10 10, 999.
    EXPECT_EQ(indexes(ds.all("NUM")), (std::vector<uint32_t>{2, 3, 8, 4, 1, 5, 7, 10, 0, 6, 9}));
    // Byte order: "" < "10" < "2" < "B" < "b" < "x".
    EXPECT_EQ(indexes(ds.all("TXT")), (std::vector<uint32_t>{3, 7, 8, 9, 10, 0, 4, 1, 6, 5, 2}));
    // No order or an absent column: file order.
    EXPECT_EQ(indexes(ds.all("NOPE")), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    auto filtered = ds.select({differs("NUM", "10")}, "NUM");
    EXPECT_EQ(indexes(filtered), (std::vector<uint32_t>{2, 3, 8, 4, 1, 5, 7, 10, 9}));
    ASSERT_TRUE(filtered.first());
    EXPECT_EQ(filtered.first()->text("NAME"), "c");
    EXPECT_FALSE(ds.select({equals("NAME", "zz")}).first());

    std::vector<std::string> names;
    for (DatasetRow row : ds.select({equals("NUM", "10")})) names.emplace_back(row.text("NAME"));
    EXPECT_EQ(names, (std::vector<std::string>{"a", "g"}));
}

// Every index lookup must give the rows, in the order, that the plain filter and order give.
TEST(RegisterDataset, IndexLookupsEqualThePlainQueries) {
    RegisterDataset ds = sample();
    std::set<std::string> registers{"", "5", "05", " 5 ", "x5", "7", "8", "-1", "abc"};
    std::set<std::string> types{"", "T", "U", "V"}, indexesSeen{"", "0", "00", "1", "01", "10", "x", "2"};
    std::set<std::string> lists{"", "L", "M", "N"};
    for (const std::string& r : registers) {
        SCOPED_TRACE("REGISTER " + r);
        EXPECT_EQ(indexes(ds.rowsOfRegister(r)), indexes(ds.select({equals("REGISTER", r)}, "REGISTER")));
    }
    EXPECT_EQ(indexes(ds.rowsOfRegister(int64_t{5})), (std::vector<uint32_t>{0, 1, 3}));
    for (const std::string& t : types) {
        SCOPED_TRACE("TRANSLATIONTYPE " + t);
        EXPECT_EQ(indexes(ds.translationList(t)),
                  indexes(ds.select({equals("TRANSLATIONTYPE", t)}, "TRANSLATIONINDEX")));
        for (const std::string& i : indexesSeen) {
            SCOPED_TRACE("TRANSLATIONINDEX " + i);
            EXPECT_EQ(indexes(ds.translationRows(t, i)),
                      indexes(ds.select({equals("TRANSLATIONTYPE", t), equals("TRANSLATIONINDEX", i)})));
        }
    }
    for (const std::string& l : lists) {
        SCOPED_TRACE("D_LIST " + l);
        EXPECT_EQ(indexes(ds.dependencyList(l)), indexes(ds.select({equals("D_LIST", l)}, "D_VALUE")));
    }
    // Spot checks that the queries themselves mean what the views expect.
    EXPECT_EQ(indexes(ds.translationRows("T", "1")), (std::vector<uint32_t>{4, 6}));
    EXPECT_EQ(indexes(ds.translationList("T")), (std::vector<uint32_t>{10, 5, 4, 6}));
    EXPECT_EQ(indexes(ds.dependencyList("L")), (std::vector<uint32_t>{9, 7, 8, 2}));
}

TEST(RegisterDataset, CopiesAndViewsShareTheRowsAndOutliveTheDataset) {
    RowView view;
    RowView lookup;
    {
        RegisterDataset ds = sample();
        RegisterDataset copy = ds;
        EXPECT_EQ(copy.rowCount(), ds.rowCount());
        view = copy.select({equals("TXT", "10")});
        lookup = copy.rowsOfRegister("5");
        ds = RegisterDataset(); // the original moves on
        EXPECT_EQ(copy.rowCount(), Rows.size());
    }
    ASSERT_EQ(view.size(), 2u);
    EXPECT_EQ(view[1].text("NAME"), "e");
    RowView again = lookup;
    ASSERT_EQ(again.size(), 3u);
    EXPECT_EQ(again[2].text("NAME"), "d");
}

TEST(RegisterDataset, RefusesWhatIsNotADataPacketAndKeepsItsRows) {
    struct Bad {
        const char* what;
        std::string xml;
        const char* reason;
    } cases[] = {
        {"empty", "", "not well-formed"},
        {"not XML", "\x01\x02garbage\xff", "not well-formed"},
        {"unclosed", "<DATAPACKET><METADATA><FIELDS>", "not well-formed"},
        {"mismatched", "<DATAPACKET></METADATA>", "not well-formed"},
        {"another root", "<SCL/>", "no DATAPACKET"},
        {"no fields", "<DATAPACKET><ROWDATA/></DATAPACKET>", "METADATA/FIELDS"},
        {"field without name",
         "<DATAPACKET><METADATA><FIELDS><FIELD fieldtype=\"i4\"/></FIELDS></METADATA></DATAPACKET>",
         "no attrname"},
        {"column twice",
         "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\"/><FIELD attrname=\"A\"/></FIELDS></METADATA>"
         "</DATAPACKET>",
         "declared twice"},
    };
    for (const Bad& b : cases) {
        SCOPED_TRACE(b.what);
        RegisterDataset ds = sample();
        std::string error;
        EXPECT_FALSE(ds.loadText(b.xml, &error));
        EXPECT_NE(error.find(b.reason), std::string::npos) << error;
        EXPECT_EQ(ds.rowCount(), Rows.size());
        EXPECT_EQ(ds.fileName(), "sample.xml");
    }
}

TEST(RegisterDataset, ReadsFilesAndReportsUnreadableOnes) {
    kt::test::TempDir dir;
    RegisterDataset ds;
    std::string error;
    std::string path = dir.write("ok.xml", dataPacket({"A", "B:i4"}, {R"(A="x" B="1" EXTRA="ignored")"}));
    ASSERT_TRUE(ds.loadFile(path, &error)) << error;
    EXPECT_EQ(ds.fileName(), path);
    EXPECT_EQ(ds.rowCount(), 1u);
    EXPECT_EQ(ds.columns().size(), 2u);

    EXPECT_FALSE(ds.loadFile((dir.path() / "missing.xml").string(), &error));
    EXPECT_NE(error.find("missing.xml: cannot open"), std::string::npos) << error;
    EXPECT_FALSE(ds.loadFile(dir.str(), &error)); // a folder
    EXPECT_EQ(ds.fileName(), path);

    // A packet without ROWDATA has no rows, and is still a table.
    ASSERT_TRUE(ds.loadText(
        "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\"/></FIELDS></METADATA></DATAPACKET>"));
    EXPECT_EQ(ds.rowCount(), 0u);
    EXPECT_TRUE(ds.all().empty());
}

TEST(RegisterDataset, TextsAreUtf8WhateverTheFileWasWrittenIn) {
    RegisterDataset ds;
    std::string error;
    // Declared Latin-1.
    ASSERT_TRUE(
        ds.loadText("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><DATAPACKET><METADATA><FIELDS>"
                    "<FIELD attrname=\"A\"/></FIELDS></METADATA><ROWDATA><ROW A=\"25\xB0\x43\"/></ROWDATA>"
                    "</DATAPACKET>",
                    &error))
        << error;
    EXPECT_EQ(ds.row(0).text("A"), "25\xC2\xB0"
                                   "C");
    // Undeclared code-page bytes in a UTF-8 file, and real UTF-8.
    ASSERT_TRUE(
        ds.loadText("<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\"/><FIELD attrname=\"B\"/></FIELDS>"
                    "</METADATA><ROWDATA><ROW A=\"\xE9t\xE9\" B=\"\xCE\xA9 &amp; &#x3A9;\"/></ROWDATA>"
                    "</DATAPACKET>",
                    &error))
        << error;
    EXPECT_EQ(ds.row(0).text("A"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(ds.row(0).text("B"), "\xCE\xA9 & \xCE\xA9");
}

TEST(ParseDatasetInteger, ReadsDecimalIntegersOnly) {
    struct Case {
        const char* text;
        std::optional<int64_t> value;
    } cases[] = {{"0", 0},
                 {"249", 249},
                 {"-1", -1},
                 {" 7 ", 7},
                 {"\t7", 7},
                 {"+7", 7},
                 {"007", 7},
                 {"", std::nullopt},
                 {" ", std::nullopt},
                 {"7a", std::nullopt},
                 {"0x10", std::nullopt},
                 {"1.5", std::nullopt},
                 {"++7", std::nullopt},
                 {"+-7", std::nullopt},
                 {"- 7", std::nullopt},
                 {"99999999999999999999", std::nullopt},
                 {"9223372036854775807", INT64_MAX}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseDatasetInteger(c.text), c.value);
    }
}
