// XML property lists: the text form of preference domains.
//
// The reader takes outside files (preference domains can be edited by hand),
// so it checks everything: strict UTF-8, balanced tags, known value kinds,
// bounded nesting, numbers that fit. Anything else makes the whole file
// unreadable; nothing is guessed.
//
// Strings are kept as UTF-16 code units and come back exactly as written:
// the writer escapes markup characters, carriage returns, other control
// characters and lone surrogates as character references (&#13;, &#xD800;),
// which this reader turns back into the same code units.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SkyloomPlistNode {
  enum class Kind { String, Integer, Real, Boolean, Date, Data, Array, Dict };
  Kind kind = Kind::String;
  std::u16string text;                // String
  int64_t integer = 0;                // Integer
  double real = 0;                    // Real; Date: seconds since 2001-01-01 00:00:00 UTC
  bool boolean = false;               // Boolean
  std::string bytes;                  // Data
  std::vector<std::u16string> keys;   // Dict: keys, in file order
  std::vector<SkyloomPlistNode> items;  // Array values; Dict values beside their keys
};

// Nesting deeper than this makes a file unreadable.
constexpr int kSkyloomPlistMaxDepth = 64;

// Parses a whole document ("<plist>" holding one value). False, with *root
// untouched, when anything is wrong with it.
bool SkyloomParseXMLPropertyList(const uint8_t* data, size_t size, SkyloomPlistNode* root);
// True when a date (absolute time) has a text form: years 0000 to 9999.
// Dates are kept to the whole second.
bool SkyloomPlistDateIsWritable(double at);
// The document for one value, UTF-8.
std::string SkyloomWriteXMLPropertyList(const SkyloomPlistNode& root);
