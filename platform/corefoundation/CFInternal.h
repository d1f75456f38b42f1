// The object model behind the CF stand-in. Only the stand-in's own sources
// include this header.
#pragma once
#include <atomic>
#include <string>

#include "platform/corefoundation/CFBase.h"

enum : CFTypeID {
  kSkyloomCFTypeString = 1,
  kSkyloomCFTypeNumber,
  kSkyloomCFTypeBoolean,
  kSkyloomCFTypeDictionary,
  kSkyloomCFTypeArray,
  kSkyloomCFTypeData,
  kSkyloomCFTypeTimeZone,
  kSkyloomCFTypeRunLoop,
  kSkyloomCFTypeRunLoopSource,
  kSkyloomCFTypeRunLoopTimer,
  kSkyloomCFTypeFileDescriptor,
  kSkyloomCFTypeNull,
  kSkyloomCFTypeBundle,
  kSkyloomCFTypeURL,
  kSkyloomCFTypeDate,
  kSkyloomCFTypeCount
};

struct SkyloomCFObject {
  explicit SkyloomCFObject(CFTypeID type);
  virtual ~SkyloomCFObject();
  SkyloomCFObject(const SkyloomCFObject&) = delete;
  SkyloomCFObject& operator=(const SkyloomCFObject&) = delete;

  virtual bool equals(const SkyloomCFObject& other) const { return this == &other; }
  virtual CFHashCode hash() const { return reinterpret_cast<CFHashCode>(this); }
  // UTF-8 text for CFCopyDescription and %@.
  virtual std::string describe() const;

  // Constants live for the whole process; retain and release leave them be.
  void makeImmortal();

  std::atomic<CFIndex> refCount{1};
  const CFTypeID typeID;
  bool immortal = false;
};

inline const SkyloomCFObject* SkyloomCFCast(CFTypeRef cf) { return static_cast<const SkyloomCFObject*>(cf); }

// True when cf is a live object of the given type (null is not).
inline bool SkyloomCFIs(CFTypeRef cf, CFTypeID type) { return cf && SkyloomCFCast(cf)->typeID == type; }

// UTF-8 text of any object (the string itself for strings).
std::string SkyloomCFDescribe(CFTypeRef cf);

// Strings, shared with the other types for descriptions and keys.
struct SkyloomCFString : SkyloomCFObject {
  SkyloomCFString() : SkyloomCFObject(kSkyloomCFTypeString) {}
  bool equals(const SkyloomCFObject& other) const override;
  CFHashCode hash() const override;
  std::string describe() const override;

  std::u16string units;
  bool isMutable = false;
  CFIndex maxLength = 0;  // 0: unlimited
};

CFStringRef SkyloomCFStringCreateFromUTF8(const std::string& utf8);  // null when invalid
std::string SkyloomCFStringUTF8(CFStringRef s);  // lone surrogates become U+FFFD
