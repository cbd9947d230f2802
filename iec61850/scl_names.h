#pragma once

// Checks of text against the IEC 61850-6 (2007B4) simple types the writer fills in, so that a
// saved file always passes the schema.

#include <string_view>

namespace kt::scl {

bool isIEDName(std::string_view s);           // tIEDName
bool isIEDNameOrRelative(std::string_view s); // tIEDNameOrRelative: tIEDName or "@"
bool isDataSetName(std::string_view s);       // tDataSetName
bool isLDInst(std::string_view s);            // tLDInst
bool isPrefix(std::string_view s);            // tPrefix
bool isLNClass(std::string_view s);           // tLNClassEnum (by its form)
bool isLNInst(std::string_view s);            // tLNInst
bool isFullDOName(std::string_view s);        // tFullDOName
bool isFullAttributeName(std::string_view s); // tFullAttributeName
bool isMessageID(std::string_view s);         // tMessageID: 1..129 printable ASCII
// Valid UTF-8 holding only characters XML 1.0 allows.
bool isXmlText(std::string_view s);

} // namespace kt::scl
