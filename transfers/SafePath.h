#pragma once
// Local paths built from names that peers chose.
//
// A peer names its files and folders freely: "..", ".", empty names, names
// with NUL or control characters, "C:" drive prefixes, and separators of
// either kind. None of that may reach the file system as it is. Every
// component is made safe on its own (SafePathComponent), and a finished path
// is checked once more to stay below its root (IsPathUnder), so that no name
// can lead a write outside the downloads folder.
#include <QString>
#include <QStringList>
#include <string>

// One component of a local path: never empty, never "." or "..", free of
// "/", "\", NUL and other control characters (each such character becomes
// "_"); a name of dots only becomes underscores. The UTF-8 length is capped
// at 255 bytes (the common file-system limit): a name too long loses the end
// of its stem, cut between characters, and keeps its extension.
QString SafePathComponent(const QString& name);

// The n-th other name for a safe component: "name (n).ext" for "name.ext"
// (a leading dot starts no extension: ".profile (1)"), its stem cut so that
// the whole stays within the same 255 bytes.
QString NumberedPathComponent(const QString& name, int n);

// The components of a peer's folder, split at "\" and "/", empty ones left
// out, each made safe.
QStringList SafeFolderComponents(const std::string& folder);

// True when path, taken as it is and after "." and ".." are resolved, lies
// strictly below root (both absolute, "/" separators).
bool IsPathUnder(const QString& root, const QString& path);
