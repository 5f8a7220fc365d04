#pragma once

#include <expat.h>

#include <string>

namespace dsc::testing {

// Whether a document is well-formed XML 1.0 to a parser that, unlike
// pugixml, refuses every character XML forbids (raw or as a reference):
// what CI systems' readers do. error says where it broke.
inline bool StrictXmlParses(const std::string& bytes, std::string& error) {
  XML_Parser p = XML_ParserCreate("UTF-8");
  const bool ok = XML_Parse(p, bytes.data(), static_cast<int>(bytes.size()), 1) == XML_STATUS_OK;
  if (!ok)
    error = std::string(XML_ErrorString(XML_GetErrorCode(p))) + " at line " +
            std::to_string(XML_GetCurrentLineNumber(p));
  XML_ParserFree(p);
  return ok;
}

}  // namespace dsc::testing
