// Arrays, dictionaries, data, booleans and null.
#include <algorithm>
#include <cstring>
#include <list>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/corefoundation/CFArray.h"
#include "platform/corefoundation/CFData.h"
#include "platform/corefoundation/CFDictionary.h"
#include "platform/corefoundation/CFInternal.h"
#include "platform/corefoundation/CFNumber.h"
#include "platform/corefoundation/CFString.h"

namespace {

const void* typeRetain(CFAllocatorRef, const void* value) { return CFRetain(value); }
void typeRelease(CFAllocatorRef, const void* value) { CFRelease(value); }
CFStringRef typeDescription(const void* value) { return CFCopyDescription(value); }
Boolean typeEqual(const void* a, const void* b) { return CFEqual(a, b); }
CFHashCode typeHash(const void* value) { return CFHash(value); }
const void* copyStringRetain(CFAllocatorRef, const void* value) {
  if (CFGetTypeID(value) == CFStringGetTypeID()) return CFStringCreateCopy(nullptr, static_cast<CFStringRef>(value));
  return CFRetain(value);
}

}  // namespace

const CFArrayCallBacks kCFTypeArrayCallBacks = {0, typeRetain, typeRelease, typeDescription, typeEqual};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0, typeRetain, typeRelease, typeDescription,
                                                                 typeEqual, typeHash};
const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks = {0, copyStringRetain, typeRelease,
                                                                       typeDescription, typeEqual, typeHash};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, typeRetain, typeRelease, typeDescription,
                                                                     typeEqual};

// ---- Booleans and null ----
struct SkyloomCFBoolean : SkyloomCFObject {
  explicit SkyloomCFBoolean(bool v) : SkyloomCFObject(kSkyloomCFTypeBoolean), value(v) { makeImmortal(); }
  std::string describe() const override { return value ? "true" : "false"; }
  CFHashCode hash() const override { return value ? 1 : 0; }
  const bool value;
};

struct SkyloomCFNull : SkyloomCFObject {
  SkyloomCFNull() : SkyloomCFObject(kSkyloomCFTypeNull) { makeImmortal(); }
  std::string describe() const override { return "<CFNull>"; }
  CFHashCode hash() const override { return 0; }
};

CFBooleanRef SkyloomCFBooleanTrue() {
  static const SkyloomCFBoolean* b = new SkyloomCFBoolean(true);
  return b;
}
CFBooleanRef SkyloomCFBooleanFalse() {
  static const SkyloomCFBoolean* b = new SkyloomCFBoolean(false);
  return b;
}
CFNullRef SkyloomCFNullConstant() {
  static const SkyloomCFNull* n = new SkyloomCFNull();
  return n;
}
CFTypeID CFBooleanGetTypeID() { return kSkyloomCFTypeBoolean; }
Boolean CFBooleanGetValue(CFBooleanRef boolean) { return boolean && boolean->value; }
CFTypeID CFNullGetTypeID() { return kSkyloomCFTypeNull; }

// ---- Arrays ----
struct SkyloomCFArray : SkyloomCFObject {
  SkyloomCFArray() : SkyloomCFObject(kSkyloomCFTypeArray) {}
  ~SkyloomCFArray() override {
    for (const void* v : values) drop(v);
  }
  const void* keep(const void* v) const { return callBacks.retain ? callBacks.retain(nullptr, v) : v; }
  void drop(const void* v) const {
    if (callBacks.release) callBacks.release(nullptr, v);
  }
  bool same(const void* a, const void* b) const { return callBacks.equal ? callBacks.equal(a, b) : a == b; }
  bool equals(const SkyloomCFObject& other) const override {
    const auto& o = static_cast<const SkyloomCFArray&>(other);
    if (o.values.size() != values.size()) return false;
    for (size_t i = 0; i < values.size(); ++i)
      if (!same(values[i], o.values[i])) return false;
    return true;
  }
  CFHashCode hash() const override { return values.size(); }
  std::string describe() const override {
    std::string s = "(";
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) s += ", ";
      s += callBacks.retain == typeRetain ? SkyloomCFDescribe(values[i]) : "<value>";
    }
    return s + ")";
  }
  bool roomFor(size_t extra) const { return isMutable && (capacity <= 0 || values.size() + extra <= size_t(capacity)); }
  bool rangeOK(CFRange r) const {
    return r.location >= 0 && r.length >= 0 && size_t(r.location) + size_t(r.length) <= values.size();
  }

  CFArrayCallBacks callBacks{};
  std::vector<const void*> values;
  bool isMutable = false;
  CFIndex capacity = 0;
};

namespace {
SkyloomCFArray* newArray(const CFArrayCallBacks* cb, bool isMutable, CFIndex capacity) {
  auto* a = new SkyloomCFArray;
  if (cb) a->callBacks = *cb;
  a->isMutable = isMutable;
  a->capacity = capacity < 0 ? 0 : capacity;
  return a;
}
}  // namespace

CFTypeID CFArrayGetTypeID() { return kSkyloomCFTypeArray; }

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues, const CFArrayCallBacks* callBacks) {
  if (numValues < 0 || (numValues > 0 && !values)) return nullptr;
  SkyloomCFArray* a = newArray(callBacks, false, 0);
  for (CFIndex i = 0; i < numValues; ++i) a->values.push_back(a->keep(values[i]));
  return a;
}

CFArrayRef CFArrayCreateCopy(CFAllocatorRef, CFArrayRef theArray) {
  if (!theArray) return nullptr;
  if (!theArray->isMutable) return static_cast<CFArrayRef>(CFRetain(theArray));
  SkyloomCFArray* a = newArray(&theArray->callBacks, false, 0);
  for (const void* v : theArray->values) a->values.push_back(a->keep(v));
  return a;
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex capacity, const CFArrayCallBacks* callBacks) {
  return newArray(callBacks, true, capacity);
}

CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef, CFIndex capacity, CFArrayRef theArray) {
  if (!theArray) return nullptr;
  if (capacity > 0 && theArray->values.size() > size_t(capacity)) return nullptr;
  SkyloomCFArray* a = newArray(&theArray->callBacks, true, capacity);
  for (const void* v : theArray->values) a->values.push_back(a->keep(v));
  return a;
}

CFIndex CFArrayGetCount(CFArrayRef theArray) { return theArray ? CFIndex(theArray->values.size()) : 0; }

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
  if (!theArray || idx < 0 || size_t(idx) >= theArray->values.size()) return nullptr;
  return theArray->values[size_t(idx)];
}

void CFArrayGetValues(CFArrayRef theArray, CFRange range, const void** values) {
  if (!theArray || !values || !theArray->rangeOK(range)) return;
  for (CFIndex i = 0; i < range.length; ++i) values[i] = theArray->values[size_t(range.location + i)];
}

CFIndex CFArrayGetFirstIndexOfValue(CFArrayRef theArray, CFRange range, const void* value) {
  if (!theArray || !theArray->rangeOK(range)) return kCFNotFound;
  for (CFIndex i = range.location; i < range.location + range.length; ++i)
    if (theArray->same(theArray->values[size_t(i)], value)) return i;
  return kCFNotFound;
}

Boolean CFArrayContainsValue(CFArrayRef theArray, CFRange range, const void* value) {
  return CFArrayGetFirstIndexOfValue(theArray, range, value) != kCFNotFound;
}

void CFArrayApplyFunction(CFArrayRef theArray, CFRange range, CFArrayApplierFunction applier, void* context) {
  if (!theArray || !applier || !theArray->rangeOK(range)) return;
  for (CFIndex i = range.location; i < range.location + range.length; ++i) applier(theArray->values[size_t(i)], context);
}

void CFArrayAppendValue(CFMutableArrayRef theArray, const void* value) {
  if (theArray && theArray->roomFor(1)) theArray->values.push_back(theArray->keep(value));
}

void CFArrayInsertValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void* value) {
  if (!theArray || idx < 0 || size_t(idx) > theArray->values.size() || !theArray->roomFor(1)) return;
  theArray->values.insert(theArray->values.begin() + idx, theArray->keep(value));
}

void CFArraySetValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void* value) {
  if (!theArray || !theArray->isMutable || idx < 0) return;
  if (size_t(idx) == theArray->values.size()) {
    CFArrayAppendValue(theArray, value);
    return;
  }
  if (size_t(idx) > theArray->values.size()) return;
  const void* kept = theArray->keep(value);
  theArray->drop(theArray->values[size_t(idx)]);
  theArray->values[size_t(idx)] = kept;
}

void CFArrayRemoveValueAtIndex(CFMutableArrayRef theArray, CFIndex idx) {
  if (!theArray || !theArray->isMutable || idx < 0 || size_t(idx) >= theArray->values.size()) return;
  const void* v = theArray->values[size_t(idx)];
  theArray->values.erase(theArray->values.begin() + idx);
  theArray->drop(v);
}

void CFArrayRemoveAllValues(CFMutableArrayRef theArray) {
  if (!theArray || !theArray->isMutable) return;
  std::vector<const void*> old;
  old.swap(theArray->values);
  for (const void* v : old) theArray->drop(v);
}

void CFArrayExchangeValuesAtIndices(CFMutableArrayRef theArray, CFIndex idx1, CFIndex idx2) {
  if (!theArray || !theArray->isMutable || idx1 < 0 || idx2 < 0 || size_t(idx1) >= theArray->values.size() ||
      size_t(idx2) >= theArray->values.size())
    return;
  std::swap(theArray->values[size_t(idx1)], theArray->values[size_t(idx2)]);
}

void CFArraySortValues(CFMutableArrayRef theArray, CFRange range, CFComparatorFunction comparator, void* context) {
  if (!theArray || !theArray->isMutable || !comparator || !theArray->rangeOK(range)) return;
  auto begin = theArray->values.begin() + range.location;
  std::stable_sort(begin, begin + range.length, [&](const void* a, const void* b) {
    return comparator(a, b, context) == kCFCompareLessThan;
  });
}

// ---- Dictionaries ----
struct SkyloomCFDictionary : SkyloomCFObject {
  struct Entry {
    const void* key;
    const void* value;
  };
  struct Hasher {
    const CFDictionaryKeyCallBacks* cb;
    size_t operator()(const void* k) const { return cb->hash ? size_t(cb->hash(k)) : std::hash<const void*>()(k); }
  };
  struct Same {
    const CFDictionaryKeyCallBacks* cb;
    bool operator()(const void* a, const void* b) const { return a == b || (cb->equal && cb->equal(a, b)); }
  };

  SkyloomCFDictionary()
      : SkyloomCFObject(kSkyloomCFTypeDictionary), index(8, Hasher{&keyCallBacks}, Same{&keyCallBacks}) {}
  ~SkyloomCFDictionary() override { clear(); }

  void clear() {
    std::list<Entry> old;
    old.swap(entries);
    index.clear();
    for (const Entry& e : old) {
      if (keyCallBacks.release) keyCallBacks.release(nullptr, e.key);
      if (valueCallBacks.release) valueCallBacks.release(nullptr, e.value);
    }
  }
  const Entry* find(const void* key) const {
    auto it = index.find(key);
    return it == index.end() ? nullptr : &*it->second;
  }
  bool sameValue(const void* a, const void* b) const {
    return a == b || (valueCallBacks.equal && valueCallBacks.equal(a, b));
  }
  // Inserts or replaces; the callbacks retain the new and release the old.
  void put(const void* key, const void* value, bool add, bool replace) {
    auto it = index.find(key);
    if (it != index.end()) {
      if (!replace) return;
      const void* kept = valueCallBacks.retain ? valueCallBacks.retain(nullptr, value) : value;
      const void* old = it->second->value;
      it->second->value = kept;
      if (valueCallBacks.release) valueCallBacks.release(nullptr, old);
      return;
    }
    if (!add || (capacity > 0 && entries.size() >= size_t(capacity))) return;
    const void* k = keyCallBacks.retain ? keyCallBacks.retain(nullptr, key) : key;
    const void* v = valueCallBacks.retain ? valueCallBacks.retain(nullptr, value) : value;
    entries.push_back({k, v});
    index.emplace(k, std::prev(entries.end()));
  }
  void remove(const void* key) {
    auto it = index.find(key);
    if (it == index.end()) return;
    Entry e = *it->second;
    entries.erase(it->second);
    index.erase(it);
    if (keyCallBacks.release) keyCallBacks.release(nullptr, e.key);
    if (valueCallBacks.release) valueCallBacks.release(nullptr, e.value);
  }
  bool equals(const SkyloomCFObject& other) const override {
    const auto& o = static_cast<const SkyloomCFDictionary&>(other);
    if (o.entries.size() != entries.size()) return false;
    for (const Entry& e : entries) {
      const Entry* f = o.find(e.key);
      if (!f || !sameValue(e.value, f->value)) return false;
    }
    return true;
  }
  CFHashCode hash() const override { return entries.size(); }
  std::string describe() const override {
    std::string s = "{";
    bool first = true;
    for (const Entry& e : entries) {
      if (!first) s += ", ";
      first = false;
      s += keyCallBacks.copyDescription ? SkyloomCFDescribe(e.key) : "<key>";
      s += " = ";
      s += valueCallBacks.copyDescription ? SkyloomCFDescribe(e.value) : "<value>";
    }
    return s + "}";
  }

  CFDictionaryKeyCallBacks keyCallBacks{};
  CFDictionaryValueCallBacks valueCallBacks{};
  std::list<Entry> entries;  // insertion order
  std::unordered_map<const void*, std::list<Entry>::iterator, Hasher, Same> index;
  bool isMutable = false;
  CFIndex capacity = 0;
};

namespace {
SkyloomCFDictionary* newDictionary(const CFDictionaryKeyCallBacks* kcb, const CFDictionaryValueCallBacks* vcb,
                                   bool isMutable, CFIndex capacity) {
  auto* d = new SkyloomCFDictionary;
  if (kcb) d->keyCallBacks = *kcb;
  if (vcb) d->valueCallBacks = *vcb;
  d->isMutable = isMutable;
  d->capacity = capacity < 0 ? 0 : capacity;
  return d;
}
}  // namespace

CFTypeID CFDictionaryGetTypeID() { return kSkyloomCFTypeDictionary; }

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
  if (numValues < 0 || (numValues > 0 && (!keys || !values))) return nullptr;
  SkyloomCFDictionary* d = newDictionary(keyCallBacks, valueCallBacks, false, 0);
  for (CFIndex i = 0; i < numValues; ++i) d->put(keys[i], values[i], true, true);
  return d;
}

CFDictionaryRef CFDictionaryCreateCopy(CFAllocatorRef, CFDictionaryRef theDict) {
  if (!theDict) return nullptr;
  if (!theDict->isMutable) return static_cast<CFDictionaryRef>(CFRetain(theDict));
  SkyloomCFDictionary* d = newDictionary(&theDict->keyCallBacks, &theDict->valueCallBacks, false, 0);
  for (const auto& e : theDict->entries) d->put(e.key, e.value, true, true);
  return d;
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) {
  return newDictionary(keyCallBacks, valueCallBacks, true, capacity);
}

CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef, CFIndex capacity, CFDictionaryRef theDict) {
  if (!theDict) return nullptr;
  if (capacity > 0 && theDict->entries.size() > size_t(capacity)) return nullptr;
  SkyloomCFDictionary* d = newDictionary(&theDict->keyCallBacks, &theDict->valueCallBacks, true, capacity);
  for (const auto& e : theDict->entries) d->put(e.key, e.value, true, true);
  return d;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) { return theDict ? CFIndex(theDict->entries.size()) : 0; }

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
  if (!theDict) return nullptr;
  const auto* e = theDict->find(key);
  return e ? e->value : nullptr;
}

Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef theDict, const void* key, const void** value) {
  if (!theDict) return false;
  const auto* e = theDict->find(key);
  if (!e) return false;
  if (value) *value = e->value;
  return true;
}

Boolean CFDictionaryContainsKey(CFDictionaryRef theDict, const void* key) { return theDict && theDict->find(key); }

Boolean CFDictionaryContainsValue(CFDictionaryRef theDict, const void* value) {
  if (!theDict) return false;
  for (const auto& e : theDict->entries)
    if (theDict->sameValue(e.value, value)) return true;
  return false;
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void** keys, const void** values) {
  if (!theDict) return;
  size_t i = 0;
  for (const auto& e : theDict->entries) {
    if (keys) keys[i] = e.key;
    if (values) values[i] = e.value;
    ++i;
  }
}

void CFDictionaryApplyFunction(CFDictionaryRef theDict, CFDictionaryApplierFunction applier, void* context) {
  if (!theDict || !applier) return;
  for (const auto& e : theDict->entries) applier(e.key, e.value, context);
}

void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
  if (theDict && theDict->isMutable) theDict->put(key, value, true, true);
}

void CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
  if (theDict && theDict->isMutable) theDict->put(key, value, true, false);
}

void CFDictionaryReplaceValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
  if (theDict && theDict->isMutable) theDict->put(key, value, false, true);
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef theDict, const void* key) {
  if (theDict && theDict->isMutable) theDict->remove(key);
}

void CFDictionaryRemoveAllValues(CFMutableDictionaryRef theDict) {
  if (theDict && theDict->isMutable) theDict->clear();
}

// ---- Data ----
struct SkyloomCFData : SkyloomCFObject {
  SkyloomCFData() : SkyloomCFObject(kSkyloomCFTypeData) {}
  bool equals(const SkyloomCFObject& other) const override {
    return bytes == static_cast<const SkyloomCFData&>(other).bytes;
  }
  CFHashCode hash() const override {
    return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  std::string describe() const override { return "<CFData " + std::to_string(bytes.size()) + " bytes>"; }
  bool fits(size_t n) const { return isMutable && (capacity <= 0 || n <= size_t(capacity)); }
  bool rangeOK(CFRange r) const {
    return r.location >= 0 && r.length >= 0 && size_t(r.location) + size_t(r.length) <= bytes.size();
  }

  std::vector<UInt8> bytes;
  bool isMutable = false;
  CFIndex capacity = 0;
};

CFTypeID CFDataGetTypeID() { return kSkyloomCFTypeData; }

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) {
  if (length < 0 || (length > 0 && !bytes)) return nullptr;
  auto* d = new SkyloomCFData;
  d->bytes.assign(bytes, bytes + length);
  return d;
}

CFDataRef CFDataCreateCopy(CFAllocatorRef, CFDataRef theData) {
  if (!theData) return nullptr;
  if (!theData->isMutable) return static_cast<CFDataRef>(CFRetain(theData));
  auto* d = new SkyloomCFData;
  d->bytes = theData->bytes;
  return d;
}

CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex capacity) {
  auto* d = new SkyloomCFData;
  d->isMutable = true;
  d->capacity = capacity < 0 ? 0 : capacity;
  return d;
}

CFMutableDataRef CFDataCreateMutableCopy(CFAllocatorRef, CFIndex capacity, CFDataRef theData) {
  if (!theData || (capacity > 0 && theData->bytes.size() > size_t(capacity))) return nullptr;
  CFMutableDataRef d = CFDataCreateMutable(nullptr, capacity);
  d->bytes = theData->bytes;
  return d;
}

CFIndex CFDataGetLength(CFDataRef theData) { return theData ? CFIndex(theData->bytes.size()) : 0; }
const UInt8* CFDataGetBytePtr(CFDataRef theData) { return theData ? theData->bytes.data() : nullptr; }
UInt8* CFDataGetMutableBytePtr(CFMutableDataRef theData) {
  return theData && theData->isMutable ? theData->bytes.data() : nullptr;
}

void CFDataGetBytes(CFDataRef theData, CFRange range, UInt8* buffer) {
  if (!theData || !buffer || !theData->rangeOK(range) || range.length == 0) return;
  memcpy(buffer, theData->bytes.data() + range.location, size_t(range.length));
}

void CFDataSetLength(CFMutableDataRef theData, CFIndex length) {
  if (theData && length >= 0 && theData->fits(size_t(length))) theData->bytes.resize(size_t(length), 0);
}

void CFDataIncreaseLength(CFMutableDataRef theData, CFIndex extraLength) {
  if (theData && extraLength > 0) CFDataSetLength(theData, CFIndex(theData->bytes.size()) + extraLength);
}

void CFDataAppendBytes(CFMutableDataRef theData, const UInt8* bytes, CFIndex length) {
  if (!theData || !bytes || length <= 0 || !theData->fits(theData->bytes.size() + size_t(length))) return;
  std::vector<UInt8> copy(bytes, bytes + length);  // the bytes may lie inside this data
  theData->bytes.insert(theData->bytes.end(), copy.begin(), copy.end());
}

void CFDataReplaceBytes(CFMutableDataRef theData, CFRange range, const UInt8* newBytes, CFIndex newLength) {
  if (!theData || !theData->isMutable || !theData->rangeOK(range) || newLength < 0 || (newLength > 0 && !newBytes))
    return;
  if (!theData->fits(theData->bytes.size() - size_t(range.length) + size_t(newLength))) return;
  std::vector<UInt8> copy(newBytes, newBytes + newLength);
  auto at = theData->bytes.begin() + range.location;
  at = theData->bytes.erase(at, at + range.length);
  theData->bytes.insert(at, copy.begin(), copy.end());
}

void CFDataDeleteBytes(CFMutableDataRef theData, CFRange range) { CFDataReplaceBytes(theData, range, nullptr, 0); }
