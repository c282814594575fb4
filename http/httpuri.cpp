#include "http/httpuri.h"

#include <cctype>

namespace {

struct TUriParts {
    bool HasScheme = false;
    std::string Scheme;
    bool HasAuthority = false;
    std::string Authority;
    std::string Path;
    bool HasQuery = false;
    std::string Query;
};

// Appendix B of RFC 3986, without a regular expression.
TUriParts Split(const std::string& uri)
{
    TUriParts p;
    std::string rest = uri;
    const std::size_t hash = rest.find('#');
    if (hash != std::string::npos)
        rest.erase(hash);
    const std::size_t schemeEnd = rest.find_first_of(":/?#");
    if (schemeEnd != std::string::npos && schemeEnd > 0 && rest[schemeEnd] == ':' &&
        std::isalpha(static_cast<unsigned char>(rest[0]))) {
        p.HasScheme = true;
        p.Scheme = rest.substr(0, schemeEnd);
        rest.erase(0, schemeEnd + 1);
    }
    if (rest.compare(0, 2, "//") == 0) {
        p.HasAuthority = true;
        const std::size_t end = rest.find_first_of("/?", 2);
        p.Authority = rest.substr(2, end == std::string::npos ? std::string::npos : end - 2);
        rest.erase(0, end == std::string::npos ? rest.size() : end);
    }
    const std::size_t q = rest.find('?');
    if (q != std::string::npos) {
        p.HasQuery = true;
        p.Query = rest.substr(q + 1);
        rest.erase(q);
    }
    p.Path = rest;
    return p;
}

std::string Join(const TUriParts& p)
{
    std::string out;
    if (p.HasScheme)
        out += p.Scheme + ":";
    if (p.HasAuthority)
        out += "//" + p.Authority;
    out += p.Path;
    if (p.HasQuery)
        out += "?" + p.Query;
    return out;
}

} // namespace

std::string RemoveDotSegments(const std::string& Path)
{
    std::string in = Path;
    std::string out;
    while (!in.empty()) {
        if (in.compare(0, 3, "../") == 0) {
            in.erase(0, 3);
        } else if (in.compare(0, 2, "./") == 0) {
            in.erase(0, 2);
        } else if (in.compare(0, 3, "/./") == 0) {
            in.erase(0, 2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.compare(0, 4, "/../") == 0 || in == "/..") {
            in = in.size() == 3 ? std::string("/") : in.substr(3);
            const std::size_t slash = out.rfind('/');
            out.erase(slash == std::string::npos ? 0 : slash);
        } else if (in == "." || in == "..") {
            in.clear();
        } else {
            const std::size_t next = in.find('/', in[0] == '/' ? 1 : 0);
            out += in.substr(0, next);
            in.erase(0, next == std::string::npos ? in.size() : next);
        }
    }
    return out;
}

std::string ResolveUrl(const std::string& Base, const std::string& Reference)
{
    const TUriParts base = Split(Base);
    const TUriParts ref = Split(Reference);
    TUriParts target;
    if (ref.HasScheme) {
        target = ref;
        target.Path = RemoveDotSegments(ref.Path);
    } else {
        target.HasScheme = base.HasScheme;
        target.Scheme = base.Scheme;
        if (ref.HasAuthority) {
            target.HasAuthority = true;
            target.Authority = ref.Authority;
            target.Path = RemoveDotSegments(ref.Path);
            target.HasQuery = ref.HasQuery;
            target.Query = ref.Query;
        } else {
            target.HasAuthority = base.HasAuthority;
            target.Authority = base.Authority;
            if (ref.Path.empty()) {
                target.Path = base.Path;
                target.HasQuery = ref.HasQuery || base.HasQuery;
                target.Query = ref.HasQuery ? ref.Query : base.Query;
            } else {
                if (ref.Path[0] == '/') {
                    target.Path = RemoveDotSegments(ref.Path);
                } else {
                    // Merge (5.2.3): the reference replaces the last segment
                    // of the base path.
                    std::string merged;
                    if (base.HasAuthority && base.Path.empty()) {
                        merged = "/" + ref.Path;
                    } else {
                        const std::size_t slash = base.Path.rfind('/');
                        merged = (slash == std::string::npos ? std::string() : base.Path.substr(0, slash + 1)) +
                                 ref.Path;
                    }
                    target.Path = RemoveDotSegments(merged);
                }
                target.HasQuery = ref.HasQuery;
                target.Query = ref.Query;
            }
        }
    }
    if (target.HasAuthority && target.Path.empty())
        target.Path = "/";
    return Join(target);
}
