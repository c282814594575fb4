#pragma once

// Module-wide helpers of the HTTP client: URL splitting, the three line
// encodings, the RFC 1123 date text and substring search.

#include <cstdint>
#include <string>

// Days since 30 December 1899, the fraction being the time of day.
using TDateTime = double;

enum THttpEncoding : int {
    encUUEncode = 0,
    encBase64 = 1,
    encMime = 2,
};

// Splits URL into its parts; every output is cleared first. Missing parts
// stay empty (no default port or protocol is filled in beyond what the
// rules below derive). A literal IPv6 host is written in brackets
// ("http://[::1]:8080/x", "[::1]:2121") and comes out without them ("::1"),
// as sockets take it; a bare one ("ftp://::1/") is all host, no port.
void ParseURL(const std::string& URL, std::string& Proto, std::string& User, std::string& Pass, std::string& Host,
              std::string& Port, std::string& Path);

// A host as a URL or a Host header writes it: a literal IPv6 address in
// brackets ("[::1]"), anything else as it is.
std::string UrlHost(const std::string& Host);
// The same with ":port" when there is a port: "[::1]:8080", "example.com".
std::string UrlHostPort(const std::string& Host, const std::string& Port);

// encBase64 and encMime give standard, padded Base64 without line breaks;
// encUUEncode gives one uuencoded line (length character first).
std::string EncodeLine(THttpEncoding Encoding, const char* Buffer, std::int64_t Length);
std::string EncodeStr(THttpEncoding Encoding, const std::string& S);

// "Www, DD Mon YYYY HH:MM:SS" of D as given (no conversion to universal
// time); callers append " GMT".
std::string RFC1123_Date(TDateTime D);

// 1-based position of Sub in S, 0 when absent. Count -1 finds the last
// occurrence, Count N > 0 the N-th from the start, Count -N the N-th from
// the end.
int Posn(const std::string& Sub, const std::string& S, int Count);
