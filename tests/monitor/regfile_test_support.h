#pragma once

// Helpers for the register-file tests: a temporary folder, XML data packets written from a few
// attribute lists, and a message sink that records what the operator would see.

#include "monitor/message_sink.h"
#include "tests/support/process.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace kt::test {

// The columns the shipped files use; "NAME:i4" declares an integer column.
inline std::vector<std::string> standardColumns() {
    return {"GROUP",
            "REGISTER:i4",
            "LABEL",
            "SETTING",
            "TYPE:i4",
            "TRANSLATIONTYPE",
            "TRANSLATIONINDEX:i4",
            "TRANSLATIONTEXT",
            "ACCESS:i4",
            "MIN:i4",
            "MAX:i4",
            "S_ORDER:i4",
            "ESSENTIAL",
            "G_ORDER:i4",
            "MAIN",
            "NAMEINDEX",
            "TITLE",
            "DISPLAY",
            "WARNING",
            "DEPENDENCY:i4",
            "D_LIST",
            "D_TYPE",
            "D_VALUE:i4",
            "D_TEXT"};
}

inline std::vector<std::string> without(std::vector<std::string> columns, const std::string& name) {
    std::erase_if(columns, [&](const std::string& c) { return c == name || c.starts_with(name + ":"); });
    return columns;
}

// A data packet with the given columns and rows (each row an attribute list).
inline std::string dataPacket(const std::vector<std::string>& columns, const std::vector<std::string>& rows) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>\n";
    for (const std::string& c : columns) {
        auto colon = c.find(':');
        std::string name = c.substr(0, colon);
        std::string type = colon == std::string::npos ? "string" : c.substr(colon + 1);
        xml += "<FIELD attrname=\"" + name + "\" fieldtype=\"" + type + "\"/>\n";
    }
    xml += "</FIELDS></METADATA><ROWDATA>\n";
    for (const std::string& r : rows) xml += "<ROW " + r + "/>\n";
    xml += "</ROWDATA></DATAPACKET>\n";
    return xml;
}

// A register row of group `g` (whose MAIN is `main`).
inline std::string registerRow(const std::string& main, int g, int reg, const std::string& label, int type,
                               int sOrder, const std::string& extra = "") {
    return "GROUP=\"" + main + "\" REGISTER=\"" + std::to_string(reg) + "\" LABEL=\"" + label + "\" TYPE=\"" +
           std::to_string(type) + "\" TRANSLATIONTYPE=\"0\" ACCESS=\"0\" S_ORDER=\"" +
           std::to_string(sOrder) + "\" G_ORDER=\"" + std::to_string(g) + "\" MAIN=\"" + main +
           "\" NAMEINDEX=\"" + main + "\" TITLE=\"" + main + " title\" DISPLAY=\"YES\" " + extra;
}

struct RecordingSink : MessageSink {
    std::vector<std::pair<std::string, std::string>> shown; // text, title
    void showMessage(const std::string& text, const std::string& title) override {
        shown.emplace_back(text, title);
    }
};

} // namespace kt::test
