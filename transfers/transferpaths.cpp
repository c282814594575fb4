#include "transfers/transferpaths.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

// realpath(3), or empty when the path does not resolve.
std::string Canonical(const std::string& path)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

bool Within(const std::string& canonicalRoot, const std::string& canonicalPath)
{
    if (canonicalRoot.empty() || canonicalPath.empty())
        return false;
    if (canonicalPath == canonicalRoot)
        return true;
    const std::string prefix = canonicalRoot == "/" ? canonicalRoot : canonicalRoot + "/";
    return canonicalPath.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> SplitPath(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return parts;
}

} // namespace

bool IsSafeEntryName(std::string_view name, std::string& why)
{
    if (name.empty()) {
        why = "the name is empty";
        return false;
    }
    if (name == "." || name == "..") {
        why = "the name refers to a folder itself or its parent";
        return false;
    }
    if (name.find('/') != std::string_view::npos) {
        why = "the name contains a slash";
        return false;
    }
    if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        why = "the name contains a CR, LF or NUL character";
        return false;
    }
    return true;
}

std::string ParentPath(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LeafName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinRemotePath(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string JoinLocalPath(const std::string& dir, const std::string& name) { return JoinRemotePath(dir, name); }

bool LocalFolderInside(const std::string& root, const std::string& dir)
{
    return Within(Canonical(root), Canonical(dir));
}

bool SafeLocalChild(const std::string& root, const std::string& dir, const std::string& name, std::string& path,
                    std::string& why)
{
    if (!IsSafeEntryName(name, why))
        return false;
    const std::string canonicalRoot = Canonical(root);
    if (canonicalRoot.empty()) {
        why = "the local folder " + root + " does not exist";
        return false;
    }
    if (!Within(canonicalRoot, Canonical(dir))) {
        why = "the folder " + dir + " leads outside " + root;
        return false;
    }
    const std::string candidate = JoinLocalPath(dir, name);
    struct stat info {};
    if (::lstat(candidate.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        // A link already there would carry the data wherever it points.
        if (!Within(canonicalRoot, Canonical(candidate))) {
            why = "the existing link " + candidate + " leads outside " + root;
            return false;
        }
    }
    path = candidate;
    return true;
}

bool NormalizeRemotePath(const std::string& path, std::string& normal)
{
    std::vector<std::string> out;
    for (const std::string& part : SplitPath(path)) {
        if (part == ".")
            continue;
        if (part == "..") {
            if (out.empty())
                return false;
            out.pop_back();
            continue;
        }
        out.push_back(part);
    }
    normal = "/";
    for (std::size_t i = 0; i < out.size(); ++i)
        normal += (i ? "/" : "") + out[i];
    return true;
}

bool RemoteLinkInside(const std::string& root, const std::string& linkDir, const std::string& target,
                      std::string& relative)
{
    if (target.empty() || target.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        return false;
    std::string normalRoot;
    std::string normalDir;
    std::string normalTarget;
    const std::string joined = target[0] == '/' ? target : JoinRemotePath(linkDir, target);
    if (!NormalizeRemotePath(root, normalRoot) || !NormalizeRemotePath(linkDir, normalDir) ||
        !NormalizeRemotePath(joined, normalTarget))
        return false;
    const std::vector<std::string> rootParts = SplitPath(normalRoot);
    const std::vector<std::string> dirParts = SplitPath(normalDir);
    const std::vector<std::string> targetParts = SplitPath(normalTarget);
    // Strictly below the root: a link to the root or above would let the
    // tree contain itself or the world around it.
    if (targetParts.size() <= rootParts.size() || dirParts.size() < rootParts.size())
        return false;
    for (std::size_t i = 0; i < rootParts.size(); ++i) {
        if (targetParts[i] != rootParts[i] || dirParts[i] != rootParts[i])
            return false;
    }
    std::string why;
    for (std::size_t i = rootParts.size(); i < targetParts.size(); ++i) {
        if (!IsSafeEntryName(targetParts[i], why))
            return false;
    }
    std::size_t common = 0;
    while (common < dirParts.size() && common < targetParts.size() && dirParts[common] == targetParts[common])
        ++common;
    relative.clear();
    for (std::size_t i = common; i < dirParts.size(); ++i)
        relative += "../";
    for (std::size_t i = common; i < targetParts.size(); ++i)
        relative += targetParts[i] + (i + 1 < targetParts.size() ? "/" : "");
    if (relative.empty())
        return false;
    return true;
}
