#pragma once

#include <string>
#include <string_view>

namespace dsc {

// Who writes the markup's own characters (< & > ") of a text.
enum class MarkupFor {
  Serializer,  // an XML library (the JUnit file's pugixml) escapes them itself
  Document,    // the text goes into the file as it stands: they become references
};

// Appends any text made fit for an XML 1.0 or an HTML document: valid UTF-8
// out, whatever comes in. Text that is valid UTF-8 is taken as UTF-8, any
// other as Latin-1 (as every output of the checker reads it). Every character
// either format refuses or shows as nothing (controls other than TAB, LF and
// CR, DEL, the C1 controls, the noncharacters U+FDD0..U+FDEF and
// U+xFFFE/U+xFFFF) becomes a visible escape, "\u001B" or "\U0001FFFF": a
// garbled answer shows what it held, and one character never makes a CI
// system reject the whole file. A surrogate's bytes are no UTF-8, so their
// text reads as Latin-1. The one routine every XML and HTML output uses.
void AppendMarkup(std::string& out, std::string_view text, MarkupFor how = MarkupFor::Document);

}  // namespace dsc
