#pragma once

// Modification times of queue items, read from listings and compared for
// "only newer" transfers.

#include "ftp/ftplisting.h"
#include "transfers/transfertypes.h"

// The span a listing's time stands for: exact with seconds, the whole
// minute without them, the whole day when only the date was given.
TTransferTime TransferTimeFromListing(const TFtpTime& time);

// True when `target` is no older than `source` at the precision the
// listings give: a file copied with its time kept, listed as "12:34" on one
// side and "12:34:56" on the other, is as new. Unknown times are never as
// new: the file is transferred.
bool TransferTimeAsNew(const TTransferTime& target, const TTransferTime& source);
