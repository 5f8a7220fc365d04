#include "base/Markup.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <random>
#include <sstream>

#include "base/TextEncoding.h"
#include "tests/app/StrictXml.h"

namespace dsc {
namespace {

struct MarkupCase {
  const char* name;
  std::string in, out;
};

std::string Markup(std::string_view in, MarkupFor how) {
  std::string out = "kept:";
  AppendMarkup(out, in, how);
  return out.substr(5);
}

TEST(AppendMarkup, ShowsWhatXmlAndHtmlRefuseAndReadsLatin1AsTheOutputsDo) {
  const MarkupCase cases[] = {
      {"ascii", "Pressure <5> & \"ok\"", "Pressure <5> & \"ok\""},
      {"markup after latin-1", "\xe9<&", "\xc3\xa9<&"},
      {"tab lf cr kept", "a\tb\nc\rd", "a\tb\nc\rd"},
      {"escape and nul", std::string("\x1b[31m\0x", 7), "\\u001B[31m\\u0000x"},
      {"del", "a\x7f", "a\\u007F"},
      {"utf-8 kept", "CAF\xc3\x89 \xe2\x82\xac \xf0\x9f\x98\x80",
       "CAF\xc3\x89 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"latin-1",
       "CAF\xc9 \xb0"
       "C",
       "CAF\xc3\x89 \xc2\xb0"
       "C"},
      {"latin-1 C1 control", "\x85x\xe9", "\\u0085x\xc3\xa9"},
      {"utf-8 C1 control",
       "\xc2\x9b"
       "1m",
       "\\u009B1m"},
      {"U+FFFE", "a\xef\xbf\xbe", "a\\uFFFE"},
      {"U+FFFF", "\xef\xbf\xbf", "\\uFFFF"},
      {"U+FDD0", "\xef\xb7\x90", "\\uFDD0"},
      {"plane 1 noncharacter", "\xf0\x9f\xbf\xbf", "\\U0001FFFF"},
      {"U+10FFFF", "\xf4\x8f\xbf\xbf", "\\U0010FFFF"},
      // Bytes that would be a surrogate in UTF-8 are no UTF-8: Latin-1.
      {"surrogate bytes", "\xed\xa0\x80", "\xc3\xad\xc2\xa0\\u0080"},
      {"truncated utf-8", "ab\xc3", "ab\xc3\x83"},
  };
  for (const MarkupCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Markup(c.in, MarkupFor::Serializer), c.out);
  }
  // Written straight into a document, the markup's characters are references.
  EXPECT_EQ(Markup("Pressure <5> & \"ok\" 'x'", MarkupFor::Document),
            "Pressure &lt;5&gt; &amp; &quot;ok&quot; 'x'");
  EXPECT_EQ(Markup("\xe9<\x1b", MarkupFor::Document), "\xc3\xa9&lt;\\u001B");
}

// Any bytes at all: UTF-8 out, accepted by a strict parser in text and
// attribute, unchanged by a second pass, and no shorter than what came in
// (nothing dropped).
TEST(AppendMarkup, AnyBytesMakeADocumentAStrictParserAccepts) {
  std::mt19937 random(31);
  for (int round = 0; round < 2000; ++round) {
    // Pieces that form noncharacters, controls, Latin-1 and broken UTF-8,
    // so that both readings of a text are exercised.
    static const char* const kPieces[] = {"\xef\xbf\xbe",
                                          "\xef\xbf\xbf",
                                          "\xef\xb7\x90",
                                          "\xf0\x9f\xbf\xbf",
                                          "\xc2\x9b",
                                          "\x1b",
                                          "\x7f",
                                          "\xc3\xa9",
                                          "\xe2\x82\xac",
                                          "a",
                                          "<",
                                          "&",
                                          "\"",
                                          "\xed\xa0\x80"};
    std::string in;
    for (int n = static_cast<int>(random() % 8); n > 0; --n) {
      if (random() % 16 == 0) {
        in += static_cast<char>(random());
      } else {
        in += kPieces[random() % std::size(kPieces)];
      }
    }
    const std::string out = Markup(in, MarkupFor::Serializer);
    SCOPED_TRACE(::testing::PrintToString(in));
    ASSERT_TRUE(IsUtf8(out));
    ASSERT_EQ(Markup(out, MarkupFor::Serializer), out);
    ASSERT_GE(out.size(), in.size());
    // Written by hand, attribute and text, as the HTML page writes them.
    const std::string both = Markup(in, MarkupFor::Document);
    std::string error;
    ASSERT_TRUE(testing::StrictXmlParses("<e a=\"" + both + "\">" + both + "</e>", error)) << error;
    pugi::xml_document doc;
    pugi::xml_node e = doc.append_child("e");
    e.append_attribute("a") = out.c_str();
    e.text() = out.c_str();
    std::ostringstream xml;
    doc.save(xml);
    ASSERT_TRUE(testing::StrictXmlParses(xml.str(), error)) << error;
  }
}

}  // namespace
}  // namespace dsc
