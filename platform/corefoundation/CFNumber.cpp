#include "platform/corefoundation/CFNumber.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/corefoundation/CFInternal.h"

struct SkyloomCFNumber : SkyloomCFObject {
  SkyloomCFNumber() : SkyloomCFObject(kSkyloomCFTypeNumber) {}
  bool equals(const SkyloomCFObject& other) const override {
    return CFNumberCompare(this, static_cast<const SkyloomCFNumber*>(&other), nullptr) == kCFCompareEqualTo;
  }
  CFHashCode hash() const override {
    if (isFloat) {
      double t = std::trunc(f);
      if (t == f && std::fabs(f) < 9.2e18) return CFHashCode(int64_t(f));
      uint64_t bits;
      memcpy(&bits, &f, sizeof bits);
      return CFHashCode(bits);
    }
    return CFHashCode(i);
  }
  std::string describe() const override {
    char text[64];
    if (isFloat) snprintf(text, sizeof text, "%.17g", f);
    else snprintf(text, sizeof text, "%lld", static_cast<long long>(i));
    return text;
  }

  CFNumberType type = kCFNumberSInt32Type;
  bool isFloat = false;
  int64_t i = 0;
  double f = 0;
};

namespace {

struct TypeInfo {
  bool isFloat;
  bool isSigned;
  int bytes;
};

bool typeInfo(CFNumberType t, TypeInfo* info) {
  switch (t) {
    case kCFNumberSInt8Type: case kCFNumberCharType: *info = {false, true, 1}; return true;
    case kCFNumberSInt16Type: case kCFNumberShortType: *info = {false, true, 2}; return true;
    case kCFNumberSInt32Type: case kCFNumberIntType: *info = {false, true, 4}; return true;
    case kCFNumberSInt64Type: case kCFNumberLongLongType: *info = {false, true, 8}; return true;
    case kCFNumberLongType: case kCFNumberCFIndexType: case kCFNumberNSIntegerType:
      *info = {false, true, int(sizeof(long))};
      return true;
    case kCFNumberFloat32Type: case kCFNumberFloatType: *info = {true, true, 4}; return true;
    case kCFNumberFloat64Type: case kCFNumberDoubleType: case kCFNumberCGFloatType: *info = {true, true, 8}; return true;
    default: return false;
  }
}

template <typename T>
void store(void* p, T v) {
  memcpy(p, &v, sizeof v);
}

template <typename T>
bool putInteger(int64_t v, void* p) {
  if (v < int64_t(std::numeric_limits<T>::min())) { store<T>(p, std::numeric_limits<T>::min()); return false; }
  if (v > int64_t(std::numeric_limits<T>::max())) { store<T>(p, std::numeric_limits<T>::max()); return false; }
  store<T>(p, T(v));
  return true;
}

// Saturating conversion of a double to a 64-bit integer; NaN gives 0.
int64_t saturate(double d, bool* exact) {
  if (std::isnan(d)) { *exact = false; return 0; }
  if (d >= 9223372036854775808.0) { *exact = false; return std::numeric_limits<int64_t>::max(); }
  if (d < -9223372036854775808.0) { *exact = false; return std::numeric_limits<int64_t>::min(); }
  double t = std::trunc(d);
  *exact = (t == d);
  return int64_t(t);
}

}  // namespace

CFTypeID CFNumberGetTypeID() { return kSkyloomCFTypeNumber; }

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
  TypeInfo info;
  if (!valuePtr || !typeInfo(theType, &info)) return nullptr;
  auto* n = new SkyloomCFNumber;
  n->isFloat = info.isFloat;
  if (info.isFloat) {
    if (info.bytes == 4) {
      float v;
      memcpy(&v, valuePtr, 4);
      n->f = v;
      n->type = kCFNumberFloat32Type;
    } else {
      memcpy(&n->f, valuePtr, 8);
      n->type = kCFNumberFloat64Type;
    }
  } else {
    switch (info.bytes) {
      case 1: { int8_t v; memcpy(&v, valuePtr, 1); n->i = v; n->type = kCFNumberSInt8Type; break; }
      case 2: { int16_t v; memcpy(&v, valuePtr, 2); n->i = v; n->type = kCFNumberSInt16Type; break; }
      case 4: { int32_t v; memcpy(&v, valuePtr, 4); n->i = v; n->type = kCFNumberSInt32Type; break; }
      default: { int64_t v; memcpy(&v, valuePtr, 8); n->i = v; n->type = kCFNumberSInt64Type; break; }
    }
  }
  return n;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
  TypeInfo info;
  if (!number || !valuePtr || !typeInfo(theType, &info)) return false;
  if (info.isFloat) {
    double d = number->isFloat ? number->f : double(number->i);
    bool exact = number->isFloat || (d < 9223372036854775808.0 && number->i == int64_t(d));
    if (info.bytes == 4) {
      float v = float(d);
      store<float>(valuePtr, v);
      return exact && (double(v) == d || std::isnan(d));
    }
    store<double>(valuePtr, d);
    return exact;
  }
  bool exact = true;
  int64_t v = number->isFloat ? saturate(number->f, &exact) : number->i;
  bool fits;
  switch (info.bytes) {
    case 1: fits = putInteger<int8_t>(v, valuePtr); break;
    case 2: fits = putInteger<int16_t>(v, valuePtr); break;
    case 4: fits = putInteger<int32_t>(v, valuePtr); break;
    default: fits = putInteger<int64_t>(v, valuePtr); break;
  }
  return exact && fits;
}

CFNumberType CFNumberGetType(CFNumberRef number) { return number ? number->type : 0; }

CFIndex CFNumberGetByteSize(CFNumberRef number) {
  TypeInfo info;
  return number && typeInfo(number->type, &info) ? info.bytes : 0;
}

Boolean CFNumberIsFloatType(CFNumberRef number) { return number && number->isFloat; }

CFComparisonResult CFNumberCompare(CFNumberRef a, CFNumberRef b, void*) {
  if (!a || !b) return a ? kCFCompareGreaterThan : (b ? kCFCompareLessThan : kCFCompareEqualTo);
  if (!a->isFloat && !b->isFloat) {
    return a->i < b->i ? kCFCompareLessThan : (a->i > b->i ? kCFCompareGreaterThan : kCFCompareEqualTo);
  }
  // Mixed or floating: exact comparison through long double; NaN sorts first.
  long double x = a->isFloat ? (long double)a->f : (long double)a->i;
  long double y = b->isFloat ? (long double)b->f : (long double)b->i;
  bool xn = std::isnan(x), yn = std::isnan(y);
  if (xn || yn) return xn && yn ? kCFCompareEqualTo : (xn ? kCFCompareLessThan : kCFCompareGreaterThan);
  return x < y ? kCFCompareLessThan : (x > y ? kCFCompareGreaterThan : kCFCompareEqualTo);
}
