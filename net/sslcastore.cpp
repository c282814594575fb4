#include "net/sslcastore.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <dirent.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include <map>
#include <mutex>
#include <string_view>

namespace {

// A CA file is known by its contents' last change as well as its name.
struct TStamp {
    std::int64_t Size = -1;
    std::int64_t ChangedNs = -1;
    bool operator==(const TStamp&) const = default;
};

TStamp StampOf(const std::string& CaFile)
{
    struct stat st {};
    if (CaFile.empty() || stat(CaFile.c_str(), &st) != 0)
        return {};
    return {std::int64_t(st.st_size), std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

struct TEntry {
    TStamp Stamp;
    TX509StorePtr Store;
};

std::string SystemCertDir()
{
    const char* env = std::getenv(X509_get_default_cert_dir_env());
    return env != nullptr && *env != '\0' ? std::string(env) : std::string(X509_get_default_cert_dir());
}

// True when Dir holds certificates under their subject hashes (what
// update-ca-certificates makes), which OpenSSL can look up one at a time.
bool HasHashedCerts(const std::string& Dir)
{
    // A list of folders (SSL_CERT_DIR) is searched as OpenSSL searches it.
    if (Dir.find(':') != std::string::npos)
        return true;
    DIR* const dir = opendir(Dir.c_str());
    if (dir == nullptr)
        return false;
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() == 10 && name.substr(8) == ".0" && name.find_first_not_of("0123456789abcdef") == 8) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

// SSL_CERT_FILE naming a bundle other than the system's own (which holds
// the certificates of the hashed folder).
bool NamesOtherBundle(const char* File)
{
    if (File == nullptr || *File == '\0')
        return false;
    char* const named = realpath(File, nullptr);
    char* const system = realpath(X509_get_default_cert_file(), nullptr);
    const bool other = named == nullptr || system == nullptr || std::string_view(named) != std::string_view(system);
    std::free(named);
    std::free(system);
    return other;
}

void AddSystemAuthorities(X509_STORE* Store)
{
    // The system's authorities are looked up by subject when a chain needs
    // one, rather than every certificate of the bundle parsed up front;
    // the bundle is read only where no hashed folder exists.
    if (HasHashedCerts(SystemCertDir())) {
        if (X509_LOOKUP* const lookup = X509_STORE_add_lookup(Store, X509_LOOKUP_hash_dir()))
            X509_LOOKUP_add_dir(lookup, nullptr, X509_FILETYPE_DEFAULT);
        if (NamesOtherBundle(std::getenv(X509_get_default_cert_file_env()))) {
            if (X509_LOOKUP* const lookup = X509_STORE_add_lookup(Store, X509_LOOKUP_file()))
                X509_LOOKUP_load_file(lookup, nullptr, X509_FILETYPE_DEFAULT);
        }
        return;
    }
    X509_STORE_set_default_paths(Store);
}

TX509StorePtr Load(const std::string& CaFile)
{
    TX509StorePtr store(X509_STORE_new());
    if (!store)
        return {};
    AddSystemAuthorities(store.get());
    if (!CaFile.empty() && X509_STORE_load_file(store.get(), CaFile.c_str()) != 1)
        store.reset();
    // A system store that lacks a file or folder is no failure.
    ERR_clear_error();
    return store;
}

TX509StorePtr Reference(const TX509StorePtr& Store)
{
    X509_STORE_up_ref(Store.get());
    return TX509StorePtr(Store.get());
}

} // namespace

TX509StorePtr TSslCaStore::Shared(const std::string& CaFile)
{
    // OpenSSL starts (and registers its clean-up at exit) before the cache
    // is made, so the cache is freed first.
    static const bool started = OPENSSL_init_crypto(0, nullptr) == 1;
    static std::mutex lock;
    static std::map<std::string, TEntry> stores;

    if (!started)
        return {};
    const TStamp stamp = StampOf(CaFile);
    const std::lock_guard<std::mutex> guard(lock);
    const auto found = stores.find(CaFile);
    if (found != stores.end() && found->second.Stamp == stamp)
        return Reference(found->second.Store);
    TX509StorePtr store = Load(CaFile);
    if (!store) {
        stores.erase(CaFile);
        return {};
    }
    TEntry& entry = stores[CaFile];
    entry.Stamp = stamp;
    entry.Store = std::move(store);
    return Reference(entry.Store);
}
