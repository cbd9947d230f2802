#include "cli/json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>

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

// Hostile bytes from files, paths and the link: JSON stays valid JSON in valid UTF-8 and keeps
// every character (a stray byte as the character of its number); terminal text keeps no control,
// no escape sequence and no direction override, and leaves ordinary text as it is.
TEST(HostileBytes, JsonKeepsTheCharactersAndTheTerminalTextDrivesNothing) {
    struct Case {
        const char* what;
        std::string bytes;
        QString decoded;   // what a JSON reader gets back
        std::string shown; // what printable() makes of it
    } cases[] = {
        {"screen clear", "\x1b[2J", QString("\x1b[2J"), "\\x1b[2J"},
        {"window title", "\x1b]0;x\x07", QString("\x1b]0;x\x07"), "\\x1b]0;x\\x07"},
        {"NUL inside", std::string("a\0b", 3), QString("a") + QChar(0) + "b", "a\\x00b"},
        {"DEL", "\x7f", QString(QChar(0x7F)), "\\x7f"},
        {"C1 CSI as a raw byte", "\x9b", QString(QChar(0x9B)), "\\x9b"},
        {"C1 CSI in UTF-8", "\xc2\x9b", QString(QChar(0x9B)), "\\xc2\\x9b"},
        {"right-to-left override", "\xe2\x80\xae", QString(QChar(0x202E)), "\\u202e"},
        {"isolate", "\xe2\x81\xa6", QString(QChar(0x2066)), "\\u2066"},
        {"overlong slash", "\xc0\xaf", QString(QChar(0xC0)) + QChar(0xAF), "\\xc0\\xaf"},
        {"surrogate", "\xed\xa0\x80", QString(QChar(0xED)) + QChar(0xA0) + QChar(0x80), "\\xed\\xa0\\x80"},
        {"cut short", "\xe2\x82", QString(QChar(0xE2)) + QChar(0x82), "\\xe2\\x82"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", QString(QChar(0xF4)) + QChar(0x90) + QChar(0x80) + QChar(0x80),
         "\\xf4\\x90\\x80\\x80"},
        {"lone continuation", "\x80", QString(QChar(0x80)), "\\x80"},
        {"Latin-1 byte", "caf\xe9", QString("caf") + QChar(0xE9), "caf\\xe9"},
        {"ordinary text", "NER \xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
         QString::fromUtf8("NER été € 😀"), "NER \xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ostringstream os;
        JsonWriter(os).beginArray().value(std::string_view(c.bytes)).endArray();
        const QByteArray json = QByteArray::fromStdString(os.str());
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        (void)utf8(json);
        EXPECT_FALSE(utf8.hasError()) << os.str();
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << os.str();
        EXPECT_EQ(doc.array().at(0).toString(), c.decoded) << os.str();

        EXPECT_EQ(kt::cli::printable(c.bytes), c.shown);
    }
}
