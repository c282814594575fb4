#pragma once

// Checks on names that come from a server's listing before they become
// local paths. A listing is untrusted input: a name such as "..", "a/b" or
// one with a line break, or a link pointing elsewhere, must never make the
// queue read or write outside the folders the user chose.

#include <string>
#include <string_view>

// True when `name` is one plain entry name: not empty, not "." or "..", no
// '/', NUL, CR or LF. `why` says what is wrong otherwise.
bool IsSafeEntryName(std::string_view name, std::string& why);

// The folder part and the last part of a path ("/a/b" -> "/a" and "b";
// "/a" -> "/" and "a").
std::string ParentPath(const std::string& path);
std::string LeafName(const std::string& path);

// "dir/name" with exactly one slash between them.
std::string JoinRemotePath(const std::string& dir, const std::string& name);
std::string JoinLocalPath(const std::string& dir, const std::string& name);

// The path of entry `name` inside local folder `dir`, refused (false, with
// the reason) unless the name is plain, `dir` really lies inside `root` once
// every link on the way is resolved, and an existing link at the path itself
// resolves inside `root` too.
bool SafeLocalChild(const std::string& root, const std::string& dir, const std::string& name, std::string& path,
                    std::string& why);

// True when the existing local folder `dir` lies inside (or is) `root` once
// every link is resolved.
bool LocalFolderInside(const std::string& root, const std::string& dir);

// A remote path with "." and ".." resolved and repeated slashes removed, as
// text only (the server is not asked). False when ".." climbs above "/".
bool NormalizeRemotePath(const std::string& path, std::string& normal);

// Where a remote link at `linkDir` pointing at `target` leads, if it stays
// inside `root`: the target relative to `linkDir` (for a local link that
// mirrors it). False when it leads outside, to `root` itself or above it, or
// through a name that is not plain.
bool RemoteLinkInside(const std::string& root, const std::string& linkDir, const std::string& target,
                      std::string& relative);
