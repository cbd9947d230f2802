#include "iec61850/scl_dom.h"

namespace kt::scl {

pugi::xml_node moveElementTo(pugi::xml_node element, int position) {
    pugi::xml_node parent = element.parent();
    // Find the element that will follow the copy before the original goes away.
    pugi::xml_node before;
    int index = 0;
    for (pugi::xml_node n : children(parent)) {
        if (n == element) continue;
        if (index == position) {
            before = n;
            break;
        }
        ++index;
    }
    pugi::xml_node copy = before ? parent.insert_copy_before(element, before) : parent.append_copy(element);
    parent.remove_child(element);
    return copy;
}

} // namespace kt::scl

#include "iec61850/iec61850_errors.h"
#include "link/platform/regular_file.h"

#include <algorithm>
#include <sstream>

namespace kt::scl {

namespace {

std::string lineAndColumn(const std::string& bytes, ptrdiff_t offset) {
    size_t end = offset < 0 ? 0 : std::min(bytes.size(), static_cast<size_t>(offset));
    size_t line = 1, column = 1;
    for (size_t i = 0; i < end; ++i) {
        if (bytes[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

} // namespace

void loadDocument(pugi::xml_document& doc, const std::string& fileName) {
    std::string bytes;
    if (platform::FileResult r = platform::readRegularFile(fileName, MaxSclFileBytes, bytes, "SCL file");
        !r.ok())
        throw SclError(r.message);
    // Whitespace around texts is layout, not data ("<P type=\"IP\">\n  10.0.0.1\n</P>").
    // pugixml neither fetches external entities nor expands entities declared in a DOCTYPE:
    // such references stay as literal text.
    const unsigned options = pugi::parse_default | pugi::parse_comments | pugi::parse_trim_pcdata;
    pugi::xml_parse_result result = doc.load_buffer(bytes.data(), bytes.size(), options, pugi::encoding_auto);
    if (!result) {
        doc.reset();
        throw SclError(fileName + " is not well-formed XML: " + result.description() + " at " +
                       lineAndColumn(bytes, result.offset));
    }
}

void saveDocument(const pugi::xml_document& doc, const std::string& fileName) {
    std::ostringstream out;
    doc.save(out, "\t", pugi::format_indent, pugi::encoding_utf8);
    if (platform::FileResult r = platform::replaceRegularFile(fileName, out.str(), "SCL file"); !r.ok())
        throw SclError(r.message);
}

} // namespace kt::scl
