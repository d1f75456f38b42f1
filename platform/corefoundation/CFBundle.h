// Bundles: the application's main bundle, its resources folder and its
// localized strings table.
//
// The resources folder holds what the application bundle's Resources held:
// the nib folders, the strings table "Localizable.strings", the help document.
// It is found beside the executable or a few folders above it (the build
// tree), else under <prefix>/share/skyloom; tests set it.
#pragma once
#include <map>
#include <string>
#include <string_view>

#include "platform/corefoundation/CFBase.h"
#include "platform/corefoundation/CFString.h"
#include "platform/corefoundation/CFURL.h"

typedef struct SkyloomCFBundle* CFBundleRef;

CFTypeID CFBundleGetTypeID();
// The application's bundle (never released).
CFBundleRef CFBundleGetMainBundle();
// The text of key in the table (null: "Localizable"); when the table lacks the
// key, value when it is given and not empty, else the key itself. The caller
// releases the result.
CFStringRef CFBundleCopyLocalizedString(CFBundleRef bundle, CFStringRef key, CFStringRef value, CFStringRef tableName);
#define CFCopyLocalizedString(key, comment) \
  CFBundleCopyLocalizedString(CFBundleGetMainBundle(), (key), (key), nullptr)
#define CFCopyLocalizedStringFromTable(key, tbl, comment) \
  CFBundleCopyLocalizedString(CFBundleGetMainBundle(), (key), (key), (tbl))

// The resources folder and its files as URLs (caller releases). A resource
// is "name.type" (type may be null when name has its extension) in subDirName,
// looked for in the resources folder, then in its "en.lproj" and
// "English.lproj" folders; null when there is none.
CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle);
CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle);
CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName, CFStringRef resourceType,
                                 CFStringRef subDirName);

// The main bundle's resources folder; setting it (tests) also forgets the
// strings tables read so far. An empty folder restores the search.
std::string SkyloomBundleResourceDirectory();
void SkyloomSetBundleResourceDirectory(const std::string& folder);

// Reads a strings table: lines of "key" = "value"; with C-style comments
// (/* */ and //) and the escapes \" \\ \n \t \r and \Uxxxx. False, with what
// was read before the fault, when the text is malformed.
bool SkyloomParseStringsTable(std::string_view text, std::map<std::string, std::string>& table);
