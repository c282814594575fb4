#pragma once

// TTransferClient: the FTP engine as a queue worker uses it. It adds what
// the engine's request set lacks for walking trees: a folder listing by
// MLSD instead of LIST when the server offers it, and a record of the last
// command verb sent (so a refused REST can be told from a refused RETR).

#include "ftp/ftpclient.h"

#include <string>

class TTransferClient : public TFtpClient {
public:
    // The verb that replaces LIST in listings: "LIST" or "MLSD".
    void SetListingVerb(const std::string& verb) { listingVerb_ = verb; }
    const std::string& ListingVerb() const { return listingVerb_; }
    // The verb of the last command sent, upper case ("RETR", "REST", ...).
    const std::string& LastVerb() const { return lastVerb_; }

    void SendCommand(const std::string& cmd) override;

private:
    std::string listingVerb_ = "LIST";
    std::string lastVerb_;
};
