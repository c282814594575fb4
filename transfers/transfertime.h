#pragma once

// Modification times of queue items, read from listings and compared for
// "only newer" transfers.

#include "ftp/ftplisting.h"
#include "transfers/transfertypes.h"

// The span a listing's time stands for: exact with seconds, the whole
// minute without them, the whole day when only the date was given.
TTransferTime TransferTimeFromListing(const TFtpTime& time);

// True when `target` is certainly no older than `source`. Unknown times
// are never as new: when in doubt, the file is transferred.
bool TransferTimeAsNew(const TTransferTime& target, const TTransferTime& source);
