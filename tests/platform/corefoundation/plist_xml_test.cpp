#include <gtest/gtest.h>

#include <string>

#include "platform/corefoundation/CFPropertyListXML.h"

namespace {

using Kind = SkyloomPlistNode::Kind;

bool Parse(const std::string& text, SkyloomPlistNode* root) {
  return SkyloomParseXMLPropertyList(reinterpret_cast<const uint8_t*>(text.data()), text.size(), root);
}

std::string Doc(const std::string& value) { return "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">" + value + "</plist>"; }

SkyloomPlistNode String(const std::u16string& s) {
  SkyloomPlistNode n;
  n.text = s;
  return n;
}

TEST(PlistXml, HandWrittenFileWithPrologCommentsAndEveryKind) {
  const std::string text =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//X//DTD PLIST 1.0//EN\" \"plist.dtd\">\n"
      "<!-- written by hand -->\n"
      "<plist version='1.0'>\n<dict>\n"
      "  <key>s</key> <string>a &amp; b &lt;c&gt; &#13;&#x41;\xC3\xA9</string>\n"
      "  <!-- between pairs -->\n"
      "  <key>empty</key><string/>\n"
      "  <key>i</key><integer> -42 </integer>\n"
      "  <key>plus</key><integer>+7</integer>\n"
      "  <key>r</key><real>2.5e-3</real>\n"
      "  <key>t</key><true/>\n"
      "  <key>f</key><false></false>\n"
      "  <key>epoch</key><date>2001-01-01T00:00:00Z</date>\n"
      "  <key>stamp</key><date>2026-03-07T04:05:06Z</date>\n"
      "  <key>d</key><data>\n SGVs\n bG8= \n</data>\n"
      "  <key>a</key><array><integer>1</integer><array/><dict/></array>\n"
      "  <key>i</key><integer>43</integer>\n"
      "</dict>\n</plist>\n<!-- trailing -->\n";
  SkyloomPlistNode root;
  ASSERT_TRUE(Parse(text, &root));
  ASSERT_EQ(root.kind, Kind::Dict);
  // The repeated key keeps its first place and its last value.
  const std::u16string keys[] = {u"s", u"empty", u"i", u"plus", u"r", u"t", u"f", u"epoch", u"stamp", u"d", u"a"};
  ASSERT_EQ(root.keys.size(), std::size(keys));
  for (size_t k = 0; k < std::size(keys); ++k) EXPECT_EQ(root.keys[k], keys[k]);
  const auto& v = root.items;
  EXPECT_EQ(v[0].text, u"a & b <c> \rA\u00E9");
  EXPECT_EQ(v[1].kind, Kind::String);
  EXPECT_EQ(v[1].text, u"");
  EXPECT_EQ(v[2].integer, 43);
  EXPECT_EQ(v[3].integer, 7);
  EXPECT_EQ(v[4].kind, Kind::Real);
  EXPECT_EQ(v[4].real, 2.5e-3);
  EXPECT_TRUE(v[5].boolean);
  EXPECT_EQ(v[6].kind, Kind::Boolean);
  EXPECT_FALSE(v[6].boolean);
  EXPECT_EQ(v[7].real, 0.0);
  EXPECT_EQ(v[8].real, 794549106.0);  // seconds from 2001-01-01 to 2026-03-07 04:05:06 UTC
  EXPECT_EQ(v[9].bytes, "Hello");
  ASSERT_EQ(v[10].items.size(), 3u);
  EXPECT_EQ(v[10].items[1].kind, Kind::Array);
  EXPECT_EQ(v[10].items[2].kind, Kind::Dict);
}

TEST(PlistXml, DamagedDocumentsAreRefusedWhole) {
  const std::string deep = [] {
    std::string s;
    for (int i = 0; i < kSkyloomPlistMaxDepth + 1; ++i) s += "<array>";
    for (int i = 0; i < kSkyloomPlistMaxDepth + 1; ++i) s += "</array>";
    return s;
  }();
  const struct {
    const char* what;
    std::string text;
  } kCases[] = {
      {"empty file", ""},
      {"no plist element", "<dict/>"},
      {"empty plist", "<plist/>"},
      {"cut short", "<plist><dict><key>a</key><string>1</string>"},
      {"unclosed string", Doc("<dict><key>a</key><string>1</dict>")},
      {"mismatched close", Doc("<dict><key>a</key><string>1</strin></dict>")},
      {"garbage after", Doc("<dict/>") + "x"},
      {"two values", Doc("<dict/><dict/>")},
      {"unknown kind", Doc("<dict><key>a</key><float>1</float></dict>")},
      {"value without key", Doc("<dict><string>1</string></dict>")},
      {"key without value", Doc("<dict><key>a</key></dict>")},
      {"key outside a dict", Doc("<key>a</key>")},
      {"overlong UTF-8", Doc("<string>\xC0\xAF</string>")},
      {"UTF-8 surrogate", Doc("<string>\xED\xA0\x80</string>")},
      {"cut UTF-8", Doc("<string>\xC3</string>")},
      {"unknown entity", Doc("<string>&nbsp;</string>")},
      {"bare ampersand", Doc("<string>a & b</string>")},
      {"reference past Unicode", Doc("<string>&#x110000;</string>")},
      {"empty reference", Doc("<string>&#;</string>")},
      {"integer overflow", Doc("<integer>9223372036854775808</integer>")},
      {"integer with tail", Doc("<integer>12abc</integer>")},
      {"empty integer", Doc("<integer/>")},
      {"real past double", Doc("<real>1e400</real>")},
      {"real with comma", Doc("<real>2,5</real>")},
      {"no such day", Doc("<date>2026-02-29T00:00:00Z</date>")},
      {"date without zone", Doc("<date>2026-03-07T04:05:06</date>")},
      {"date with sign", Doc("<date>2026-03-07T04:05:+6Z</date>")},
      {"base64 stray symbol", Doc("<data>SGVsbG8*</data>")},
      {"base64 lone sixth", Doc("<data>SGVsb</data>")},
      {"base64 after padding", Doc("<data>SG==VsbG8</data>")},
      {"content in true", Doc("<true>yes</true>")},
      {"nested too deep", Doc(deep)},
      {"unclosed comment", Doc("<dict/>") + "<!-- open"},
      {"unbalanced doctype", "<!DOCTYPE plist ]><plist><dict/></plist>"},
  };
  for (const auto& c : kCases) {
    SkyloomPlistNode root = String(u"untouched");
    EXPECT_FALSE(Parse(c.text, &root)) << c.what;
    EXPECT_EQ(root.text, u"untouched") << c.what;
  }
  // Nesting right at the limit is fine.
  std::string limit;
  for (int i = 0; i < kSkyloomPlistMaxDepth; ++i) limit += "<array>";
  for (int i = 0; i < kSkyloomPlistMaxDepth; ++i) limit += "</array>";
  SkyloomPlistNode root;
  EXPECT_TRUE(Parse(Doc(limit), &root));
}

TEST(PlistXml, WrittenStringsComeBackUnitForUnit) {
  SkyloomPlistNode root;
  root.kind = Kind::Dict;
  const std::u16string tricky[] = {
      u"",
      u"0.100000",
      u"  spaces kept  ",
      u"a&b<c>d\"e'f",
      u"line\r\nbreaks\rand\ttabs\n",
      std::u16string(u"nul\0inside", 10),
      u"\x01\x1F control",
      u"caf\u00E9 \u2603 \U0001F52D",
      std::u16string(1, char16_t(0xD800)) + u"lone high",
      u"lone low" + std::u16string(1, char16_t(0xDC00)),
      u"]]> and --> and <!--",
  };
  for (size_t i = 0; i < std::size(tricky); ++i) {
    root.keys.push_back(u"key " + tricky[i]);
    root.items.push_back(String(tricky[i]));
  }
  const std::string text = SkyloomWriteXMLPropertyList(root);
  // Carriage returns must not appear raw: an XML reader would turn them into line feeds.
  EXPECT_EQ(text.find('\r'), std::string::npos);
  SkyloomPlistNode back;
  ASSERT_TRUE(Parse(text, &back)) << text;
  ASSERT_EQ(back.keys.size(), std::size(tricky));
  for (size_t i = 0; i < std::size(tricky); ++i) {
    EXPECT_EQ(back.keys[i], u"key " + tricky[i]) << i;
    EXPECT_EQ(back.items[i].text, tricky[i]) << i;
  }
}

TEST(PlistXml, WrittenValuesOfEveryKindComeBack) {
  SkyloomPlistNode root;
  root.kind = Kind::Array;
  auto add = [&](Kind k) -> SkyloomPlistNode& {
    root.items.emplace_back();
    root.items.back().kind = k;
    return root.items.back();
  };
  add(Kind::Integer).integer = INT64_MIN;
  add(Kind::Integer).integer = INT64_MAX;
  add(Kind::Real).real = 0.1;
  add(Kind::Real).real = -1e-310;  // subnormal
  add(Kind::Real).real = 1.0 / 0.0;
  add(Kind::Boolean).boolean = true;
  add(Kind::Date).real = -31622400.0;  // 2000-01-01, before the epoch
  add(Kind::Date).real = 794549106.0;
  add(Kind::Data).bytes = std::string("\0\xFF\x10", 3);
  add(Kind::Data).bytes = "ab";
  add(Kind::Data);
  SkyloomPlistNode& dict = add(Kind::Dict);
  dict.keys = {u"x"};
  dict.items = {String(u"y")};
  add(Kind::Array);

  SkyloomPlistNode back;
  ASSERT_TRUE(Parse(SkyloomWriteXMLPropertyList(root), &back));
  ASSERT_EQ(back.items.size(), root.items.size());
  for (size_t i = 0; i < root.items.size(); ++i) {
    const auto& a = root.items[i];
    const auto& b = back.items[i];
    EXPECT_EQ(b.kind, a.kind) << i;
    EXPECT_EQ(b.integer, a.integer) << i;
    EXPECT_EQ(b.real, a.real) << i;
    EXPECT_EQ(b.boolean, a.boolean) << i;
    EXPECT_EQ(b.bytes, a.bytes) << i;
    EXPECT_EQ(b.keys, a.keys) << i;
    EXPECT_EQ(b.items.size(), a.items.size()) << i;
  }
  EXPECT_EQ(back.items[11].items[0].text, u"y");
}

TEST(PlistXml, DatesOutsideFourDigitYearsAreNotWritable) {
  EXPECT_TRUE(SkyloomPlistDateIsWritable(0.0));
  EXPECT_TRUE(SkyloomPlistDateIsWritable(-63145526400.0));  // 0000-01-01
  EXPECT_FALSE(SkyloomPlistDateIsWritable(-63145526401.0));
  EXPECT_TRUE(SkyloomPlistDateIsWritable(252423993599.0));  // 9999-12-31 23:59:59
  EXPECT_FALSE(SkyloomPlistDateIsWritable(252423993600.0));
  EXPECT_FALSE(SkyloomPlistDateIsWritable(0.0 / 0.0));
}

}  // namespace
