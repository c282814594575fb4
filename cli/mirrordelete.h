#pragma once

// mirror --delete: after the copy, what the destination holds and the
// source does not is removed, folder by folder, only in folders whose
// source listing was read completely, and never outside the mirrored tree
// (links are removed as links, never followed).

#include "transfers/transferqueue.h"

#include <string>
#include <vector>

class TRemoteSession;
class TTransferRunner;

// Download: local entries the remote folders did not list.
void DeleteSurplusLocal(const TTransferQueue& queue, int& deleted, std::vector<std::string>& failures, bool verbose);
// Upload: remote entries (as listed before the upload) the local folders
// do not hold; removed through `session`.
void DeleteSurplusRemote(const TTransferQueue& queue, const TTransferRunner& runner, TRemoteSession& session,
                         int& deleted, std::vector<std::string>& failures, bool verbose);
