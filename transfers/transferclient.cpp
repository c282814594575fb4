#include "transfers/transferclient.h"

#include <cctype>

void TTransferClient::SendCommand(const std::string& cmd)
{
    std::string text = cmd;
    // The engine's listing request sends LIST; MLSD takes the same data
    // connection and the same optional path argument.
    if (listingVerb_ != "LIST" && (text == "LIST" || text.rfind("LIST ", 0) == 0))
        text = listingVerb_ + text.substr(4);
    const std::size_t space = text.find(' ');
    lastVerb_ = text.substr(0, space);
    for (char& c : lastVerb_)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    TFtpClient::SendCommand(text);
}
