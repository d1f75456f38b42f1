// URLs: file URLs for paths on disk, and other addresses kept as text.
#pragma once
#include "platform/corefoundation/CFBase.h"

typedef CFIndex CFURLPathStyle;
enum : CFIndex { kCFURLPOSIXPathStyle = 0 };

CFTypeID CFURLGetTypeID();
// A relative path is taken from the current directory.
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef allocator, CFStringRef filePath, CFURLPathStyle pathStyle,
                                       Boolean isDirectory);
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef allocator, const UInt8* buffer, CFIndex bufLen,
                                                 Boolean isDirectory);
// Any address ("https://...", "file:///..."); null for empty text. No base URLs.
CFURLRef CFURLCreateWithString(CFAllocatorRef allocator, CFStringRef URLString, CFURLRef baseURL);
// The address as text (file URLs percent-encoded), owned by the URL.
CFStringRef CFURLGetString(CFURLRef anURL);
// The path of a file URL (null for other URLs), caller releases.
CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle);
// The path as a zero-terminated UTF-8 string; false when it is not a file URL
// or does not fit in maxBufLen bytes.
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer, CFIndex maxBufLen);
CFStringRef CFURLCopyLastPathComponent(CFURLRef url);
CFStringRef CFURLCopyPathExtension(CFURLRef url);
Boolean CFURLHasDirectoryPath(CFURLRef anURL);
CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef allocator, CFURLRef url, CFStringRef pathComponent,
                                               Boolean isDirectory);
CFURLRef CFURLCreateCopyDeletingLastPathComponent(CFAllocatorRef allocator, CFURLRef url);
