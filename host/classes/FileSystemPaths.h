// Paths as the file system objects take them: Linux paths, absolute or
// relative to the server's working folder, with `/` (the arguments have
// already turned `\` into `/`); folder listings; and the wildcards `*` and
// `?` of the last part of a copy, move or delete.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

namespace classes {

// `path` made absolute and normalised: no ".", "..", doubled or trailing
// `/` (except the root itself). Nothing is looked up on disk.
std::string AbsolutePath(const std::string& path);
// The folder that holds an absolute path ("" for the root), and its last part.
std::string ParentOf(const std::string& absolute);
std::string NameOf(const std::string& absolute);
// `folder` + "/" + `name`, without doubling the `/` of the root.
std::string Join(const std::string& folder, const std::string& name);
// The last part's name without its extension, and the extension (after the
// last "."; "" when there is none).
std::string BaseName(const std::string& name);
std::string ExtensionOf(const std::string& name);

enum class EntryKind { kNone, kFile, kFolder };
// What a path names, following links; kNone also for what cannot be reached.
EntryKind KindOf(const std::string& path, struct stat* info = nullptr);

// The names of one kind in `folder`, in the order of their letters without
// regard to case (the order the sites' file systems listed them in). Throws
// kPathNotFound for a folder that does not exist, kPermissionDenied for one
// that cannot be read, and a clear error past a million names.
std::vector<std::string> ListNames(const std::string& folder, EntryKind kind);

bool HasWildcards(const std::string& name);
// Whether `name` matches `pattern` (`*`: any run, `?`: one character),
// without regard to case, as the sites' file systems matched; "*.*" is
// every name, with or without a dot.
bool MatchesWildcard(const std::string& pattern, const std::string& name);

}  // namespace classes
