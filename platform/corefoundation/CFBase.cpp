#include <climits>
#include <cstdio>

#include "platform/corefoundation/CFInternal.h"
#include "platform/corefoundation/CFString.h"

namespace {
std::atomic<long> gLiveObjects{0};

const char* const kTypeNames[kSkyloomCFTypeCount] = {
    "CFType", "CFString", "CFNumber", "CFBoolean", "CFDictionary", "CFArray", "CFData", "CFTimeZone",
    "CFRunLoop", "CFRunLoopSource", "CFRunLoopTimer", "CFFileDescriptor", "CFNull", "CFBundle", "CFURL", "CFDate"};
}  // namespace

SkyloomCFObject::SkyloomCFObject(CFTypeID type) : typeID(type) { gLiveObjects.fetch_add(1, std::memory_order_relaxed); }

SkyloomCFObject::~SkyloomCFObject() {
  if (!immortal) gLiveObjects.fetch_sub(1, std::memory_order_relaxed);
}

void SkyloomCFObject::makeImmortal() {
  if (!immortal) {
    immortal = true;
    gLiveObjects.fetch_sub(1, std::memory_order_relaxed);
  }
}

std::string SkyloomCFObject::describe() const {
  char text[64];
  const char* name = typeID < kSkyloomCFTypeCount ? kTypeNames[typeID] : "CFType";
  snprintf(text, sizeof text, "<%s %p>", name, static_cast<const void*>(this));
  return text;
}

std::string SkyloomCFDescribe(CFTypeRef cf) { return cf ? SkyloomCFCast(cf)->describe() : std::string("(null)"); }

long SkyloomCFLiveObjectCount() { return gLiveObjects.load(std::memory_order_relaxed); }

CFTypeRef CFRetain(CFTypeRef cf) {
  if (!cf) return nullptr;
  auto* obj = const_cast<SkyloomCFObject*>(SkyloomCFCast(cf));
  if (!obj->immortal) obj->refCount.fetch_add(1, std::memory_order_relaxed);
  return cf;
}

void CFRelease(CFTypeRef cf) {
  if (!cf) return;
  auto* obj = const_cast<SkyloomCFObject*>(SkyloomCFCast(cf));
  if (obj->immortal) return;
  if (obj->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete obj;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
  if (!cf) return 0;
  const SkyloomCFObject* obj = SkyloomCFCast(cf);
  return obj->immortal ? CFIndex(LONG_MAX) : obj->refCount.load(std::memory_order_relaxed);
}

CFTypeID CFGetTypeID(CFTypeRef cf) { return cf ? SkyloomCFCast(cf)->typeID : 0; }

Boolean CFEqual(CFTypeRef a, CFTypeRef b) {
  if (a == b) return true;
  if (!a || !b) return false;
  const SkyloomCFObject* x = SkyloomCFCast(a);
  const SkyloomCFObject* y = SkyloomCFCast(b);
  return x->typeID == y->typeID && x->equals(*y);
}

CFHashCode CFHash(CFTypeRef cf) { return cf ? SkyloomCFCast(cf)->hash() : 0; }

CFStringRef CFCopyDescription(CFTypeRef cf) {
  if (!cf) return nullptr;
  return SkyloomCFStringCreateFromUTF8(SkyloomCFCast(cf)->describe());
}

CFStringRef CFCopyTypeIDDescription(CFTypeID typeID) {
  if (typeID == 0 || typeID >= kSkyloomCFTypeCount) return nullptr;
  return SkyloomCFStringCreateFromUTF8(kTypeNames[typeID]);
}

void CFShow(CFTypeRef cf) { fprintf(stderr, "%s\n", SkyloomCFDescribe(cf).c_str()); }
