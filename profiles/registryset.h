#pragma once

#include "profiles/sitefields.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The encryption and server-encoding choices of a profile.
struct TSiteChoices {
    TFtpEncryption Encryption = TFtpEncryption::None;
    TFtpServerEncoding Encoding = TFtpServerEncoding::Auto;
};

// The account store: site profiles kept in "Accounts.dat", one section per
// profile. Stateless apart from where the file lies: every operation opens
// the file, does its work and closes it, so each sees what the one before it
// wrote (another running instance included).
class TRegistrySet {
public:
    // Shows a notice (caption, text) with an OK button and the exclamation
    // icon. Without one, notices are dropped.
    using TNotice = std::function<void(const std::string& caption, const std::string& text)>;

    // `folder` holds "Accounts.dat" (the application folder).
    explicit TRegistrySet(std::string folder, TNotice notice = {});

    std::string FileName() const;

    // Clears the list and fills it with every profile name in file order.
    std::vector<std::string>& GetProfileNames(std::vector<std::string>& list) const;

    // Appends the nine texts of a profile: name, "true"/"false" proxy, proxy
    // name, host name, user name, password, port (default "21"),
    // "true"/"false" anonymous, "true"/"false" passive. An empty name shows
    // "Corrupt data" and leaves the list unchanged.
    std::vector<std::string>& LoadProfile(std::vector<std::string>& list, const std::string& name) const;

    // Fills the connection fields from a profile. An empty name shows
    // "Quick Connect" and leaves the fields as they were. Passive when
    // either "Passive" or the passive-mode choice says so.
    void LoadQuickConnect(const std::string& name, TSiteFields& fields) const;

    // Whether the profile connects in passive mode on its own account (the
    // "PassiveMode" key; a profile written before that key existed has
    // none and is passive). False for a name that is not stored.
    bool LoadPassiveMode(const std::string& name) const;

    // The profile's "Encryption" and "Server encoding" keys (see
    // sitechoices.h); a name that is not stored, or a profile without the
    // keys, gives None and Auto.
    TSiteChoices LoadSiteChoices(const std::string& name) const;

    // Writes all eight keys in one replacement of the file, and
    // "PassiveMode" as `passive`. An empty name
    // shows "No Account Name" and writes nothing. Throws
    // Exception("Unable to write to <file>") when the file cannot be written;
    // the file is then as it was before.
    void SaveProfile(const std::string& name, bool proxy, const std::string& proxyName, const std::string& hostName,
                     const std::string& userName, const std::string& password, const std::string& port, bool anonymous,
                     bool passive) const;
    // The same with the passive-mode choice of its own: "Passive" keeps the
    // value older readers connect with, "PassiveMode" holds `passiveMode`.
    void SaveProfile(const std::string& name, bool proxy, const std::string& proxyName, const std::string& hostName,
                     const std::string& userName, const std::string& password, const std::string& port, bool anonymous,
                     bool passive, bool passiveMode) const;
    // The same with the encryption and server-encoding choices, all in one
    // replacement of the file. The overloads above leave those two keys as
    // they stand.
    void SaveProfile(const std::string& name, bool proxy, const std::string& proxyName, const std::string& hostName,
                     const std::string& userName, const std::string& password, const std::string& port, bool anonymous,
                     bool passive, bool passiveMode, const TSiteChoices& choices) const;

    // Rewrites only the password of a stored profile (an empty one when the
    // keyring keeps it); a name that is not stored is left alone. Throws
    // like SaveProfile.
    void WritePassword(const std::string& name, const std::string& password) const;

    // Removes the profile; a name that is not there changes nothing. Throws
    // like SaveProfile.
    void DeleteProfile(const std::string& name) const;

private:
    void Notify(const std::string& caption, const std::string& text) const;
    void Save(const std::string& name, bool proxy, const std::string& proxyName, const std::string& hostName,
              const std::string& userName, const std::string& password, const std::string& port, bool anonymous,
              bool passive, bool passiveMode, const std::optional<TSiteChoices>& choices) const;

    std::string folder_;
    TNotice notice_;
};
