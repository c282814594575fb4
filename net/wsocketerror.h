#pragma once

#include <string>

// The fixed English description of a socket error number, as shown in the
// "Error N in function F" messages and by the FTP and HTTP clients.
std::string WSocketErrorDesc(int ErrCode);
