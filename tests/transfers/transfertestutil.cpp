#include "transfertestutil.h"

#include "support/eventwait.h"
#include "support/testfiles.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

namespace fs = std::filesystem;

namespace transfertest {

void MakeFile(const std::string& path, std::int64_t size, unsigned seed)
{
    testsupport::WriteFile(path, testsupport::RandomBytes(std::size_t(size), seed));
}

void MakeTree(const std::string& root, const TreeShape& shape)
{
    fs::create_directories(root);
    std::vector<std::string> folders;
    for (int i = 0; i < shape.Folders; ++i) {
        // Three at the top, then each folder holds up to three more.
        const std::string parent = i < 3 ? root : folders[std::size_t((i - 3) / 3)];
        const std::string name = i % 4 == 0
                                     ? "folder " + std::to_string(i) + " ä ö"
                                     : (i % 4 == 1 ? "dossier été " + std::to_string(i) : "dir_" + std::to_string(i));
        folders.push_back(parent + "/" + name);
        fs::create_directory(folders.back());
    }
    for (int f = 0; f < shape.Files; ++f) {
        const std::string& folder = folders[std::size_t(f % shape.Folders)];
        std::string name;
        std::int64_t size = 0;
        if (f == 0) {
            name = "big file.bin";
            size = shape.Big;
        } else if (f == 1) {
            name = "medium 中文.bin";
            size = shape.Medium;
        } else if (f % 10 == 2) {
            name = "empty " + std::to_string(f) + ".txt";
            size = 0;
        } else {
            name = (f % 3 == 0 ? "file " : f % 3 == 1 ? "naïve café " : "données_") + std::to_string(f) + ".dat";
            size = std::int64_t((f * 7919) % (24 * 1024)) + 1;
        }
        MakeFile(folder + "/" + name, size, unsigned(f + 1));
    }
}

namespace {

std::map<std::string, fs::file_status> Walk(const std::string& root)
{
    std::map<std::string, fs::file_status> entries;
    for (const auto& e : fs::recursive_directory_iterator(root))
        entries[fs::relative(e.path(), root).string()] = e.symlink_status();
    return entries;
}

bool SameBytes(const std::string& a, const std::string& b)
{
    std::ifstream fa(a, std::ios::binary);
    std::ifstream fb(b, std::ios::binary);
    std::vector<char> ba(1 << 16);
    std::vector<char> bb(1 << 16);
    for (;;) {
        fa.read(ba.data(), std::streamsize(ba.size()));
        fb.read(bb.data(), std::streamsize(bb.size()));
        if (fa.gcount() != fb.gcount())
            return false;
        if (!std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin()))
            return false;
        if (fa.gcount() == 0)
            return true;
    }
}

} // namespace

std::string CompareTrees(const std::string& a, const std::string& b)
{
    std::error_code ec;
    if (!fs::is_directory(a, ec) || !fs::is_directory(b, ec))
        return "missing folder: " + (fs::is_directory(a, ec) ? b : a);
    const auto ea = Walk(a);
    const auto eb = Walk(b);
    for (const auto& [path, status] : ea) {
        const auto other = eb.find(path);
        if (other == eb.end())
            return "only in " + a + ": " + path;
        if (other->second.type() != status.type())
            return "different kinds: " + path;
        if (status.type() == fs::file_type::symlink) {
            if (fs::read_symlink(a + "/" + path) != fs::read_symlink(b + "/" + path))
                return "different link targets: " + path;
        } else if (status.type() == fs::file_type::regular && !SameBytes(a + "/" + path, b + "/" + path)) {
            return "different bytes: " + path;
        }
    }
    for (const auto& [path, status] : eb) {
        if (!ea.count(path))
            return "only in " + b + ": " + path;
    }
    return {};
}

RunOutcome RunToEnd(TTransferQueue& queue, const TTransferSite& site, const TTransferSettings& settings,
                    const TConflictHandler& conflict, int timeoutMs)
{
    RunOutcome outcome;
    TTransferRunner runner(queue, site, settings);
    runner.OnConflict = conflict;
    runner.OnLog = [&](const std::string& line) { outcome.Log += line + "\n"; };
    runner.OnFinished = [&](bool ok) {
        outcome.Finished = true;
        outcome.Ok = ok;
    };
    runner.Start();
    testsupport::WaitFor([&] { return outcome.Finished; }, timeoutMs);
    // Let the sessions say goodbye.
    testsupport::WaitFor([&] { return false; }, 50);
    return outcome;
}

std::string Unfinished(const TTransferQueue& queue)
{
    std::string text;
    for (const TTransferItem& item : queue.Items()) {
        if (item.State == TTransferState::Done)
            continue;
        text += std::string(TransferStateName(item.State)) + " " + item.RemotePath + ": " + item.ErrorText + "\n";
    }
    return text;
}

} // namespace transfertest
