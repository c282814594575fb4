#pragma once

#include "ftp/ftptypes.h"

#include <string>

// The per-profile connection choices stored in "Accounts.dat" beside the
// older keys: "Encryption" and "Server encoding". A profile written before
// these keys existed has neither and connects as it always did: clear text,
// names in the encoding the server offers.

// The stored texts: "none", "explicit", "explicit-if-offered", "implicit".
std::string EncryptionText(TFtpEncryption value);
// Reads a stored text without regard to case (the numbers 0 to 3 too). A
// missing or empty value is None; a value this program does not know is
// ExplicitRequired, so that a file written for stronger settings never
// turns into clear text.
TFtpEncryption EncryptionFromText(const std::string& text);

// The stored texts: "Auto", "UTF-8", "Latin-1".
std::string ServerEncodingText(TFtpServerEncoding value);
// Reads a stored text without regard to case ("utf8" and "latin1" too);
// anything else is Auto.
TFtpServerEncoding ServerEncodingFromText(const std::string& text);

// The port a user means when the encryption changes while the port field
// still shows the other mode's usual port: 21 becomes 990 for implicit TLS
// and back. Any other port stays as typed.
std::string SuggestedPort(TFtpEncryption encryption, const std::string& port);

// A host as typed into a host field: surrounding blanks go, and so do the
// brackets of a literal IPv6 address ("[::1]" reads "::1"), which the
// resolver takes without them. A bracketed address with a port
// ("[::1]:2121") gives the port in `port` as well; otherwise `port` is left
// as it was.
std::string HostFieldText(const std::string& typed, std::string& port);
std::string HostFieldText(const std::string& typed);
