// MLSD (RFC 3659): a listing whose lines a program can read without
// guessing. It moves like LIST: over the data connection into a local file
// or OnDisplayFile.

#include "ftp/customftpcli.h"

void TCustomFtpCli::MlsdAsync() { HighLevelAsync(ftpMlsdAsync, {ftpFctPort, ftpFctMlsd}); }

void TCustomFtpCli::ExecMlsdAsync() { ExecTransferAsync(ftpMlsdAsync); }
