// UTF-8 and UTF-16 code points, shared by the File Manager's names, CFString,
// the property-list files and the strings tables. Decoding is strict: no
// overlong forms, no surrogates in UTF-8, nothing above U+10FFFF and no lone
// surrogates in UTF-16; each caller decides what an invalid sequence becomes.
#pragma once
#include <cstddef>
#include <string>

#include "platform/coreservices/MacTypes.h"

// The code point's UTF-8 bytes into out: 1 to 4 of them, their count returned.
int SkyloomEncodeUTF8(char32_t codePoint, UInt8 out[4]);
void SkyloomAppendUTF8(std::string& out, char32_t codePoint);
// The code point as one UTF-16 unit or a surrogate pair: the count returned.
int SkyloomEncodeUTF16(char32_t codePoint, char16_t out[2]);
void SkyloomAppendUTF16(std::u16string& out, char32_t codePoint);

// The sequence at the start of the n bytes: the bytes it takes (1 to 4) with
// *codePoint, or 0 when they do not start a well-formed sequence.
size_t SkyloomDecodeUTF8(const UInt8* bytes, size_t n, char32_t* codePoint);
// The code point of the unit `first`, paired with `second` when `first` is a
// high surrogate (pass 0 when there is no next unit): the units it takes (1
// or 2) with *codePoint, or 0 for a lone surrogate.
size_t SkyloomDecodeUTF16(UInt32 first, UInt32 second, char32_t* codePoint);
