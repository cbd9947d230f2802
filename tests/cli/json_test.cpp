#include "cli/json.h"

#include <gtest/gtest.h>
#include <sstream>

using kt::cli::JsonWriter;

TEST(JsonWriter, NestsAndSeparates) {
    std::ostringstream os;
    JsonWriter j(os);
    j.beginObject().field("pass", 3).key("values").beginObject();
    j.key("5").beginObject().field("label", "DB_COMM").field("value", "6").endObject();
    j.key("6").beginObject().field("ok", true).endObject();
    j.endObject().key("list").beginArray().value(1).value("x").null().endArray().endObject();
    EXPECT_EQ(os.str(), R"({"pass":3,"values":{"5":{"label":"DB_COMM","value":"6"},"6":{"ok":true}},)"
                        R"("list":[1,"x",null]})");
}

TEST(JsonWriter, EscapesControlAndQuoteCharacters) {
    std::ostringstream os;
    JsonWriter(os).value(std::string_view("a\"b\\c\r\n\t\x01 \xc3\xa9"));
    EXPECT_EQ(os.str(), "\"a\\\"b\\\\c\\r\\n\\t\\u0001 \xc3\xa9\"");
}
