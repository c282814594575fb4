#pragma once

// Reference resolution (RFC 3986, section 5): what a Location header names,
// taken relative to the URL that was requested.

#include <string>

// The absolute URL that `Reference` names when found in a document at
// `Base` (an absolute URL). The fragment is dropped: it never travels.
std::string ResolveUrl(const std::string& Base, const std::string& Reference);
// RFC 3986 section 5.2.4: "/a/b/../c/./d" becomes "/a/c/d".
std::string RemoveDotSegments(const std::string& Path);
