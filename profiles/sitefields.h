#pragma once

#include "ftp/ftptypes.h"

#include <string>

// The main window's connection fields, filled by the login dialog or by a
// quick-connect load and copied into the FTP client before connecting.
// With a proxy, SiteHost is the proxy and SiteUser reads "user@realhost".
struct TSiteFields {
    std::string SiteHost;
    std::string SiteUser;
    std::string SitePassword;
    std::string SitePort = "21";
    bool SitePassive = false;
    bool SiteProxy = false; // SiteHost names an FTP proxy, not the server
    TFtpEncryption SiteEncryption = TFtpEncryption::None;
    TFtpServerEncoding SiteEncoding = TFtpServerEncoding::Auto;
};
