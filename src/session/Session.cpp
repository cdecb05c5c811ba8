#include "session/Session.h"

#include "net/CookieStore.h"

namespace brenvik {

Session::Session(std::filesystem::path baseFolder, FrontEnd& frontEnd)
    : baseFolder_(std::move(baseFolder)), front_(frontEnd) {
    bool saved = true;
    bool tooLarge = false;
    settings_ = LoadSettings(baseFolder_, &saved, &tooLarge);
    homeUnwritable_ = !saved;
    if (tooLarge) {
        front_.ShowMessage(kSoftDatTooLarge + (baseFolder_ / kSoftDatFile).string());
    }
    extended_ = ReadExtendedSettings(baseFolder_);
    CookieStore::Shared().SetSaveFailureHandler(this, [this] { WarnHomeNotWritable(); });
}

Session::~Session() {
    CookieStore::Shared().SetSaveFailureHandler(this, nullptr);
}

void Session::CheckHome() {
    if (CookieStore::Shared().FileTooLarge()) {
        front_.ShowMessage(kCookieFileTooLarge + (baseFolder_ / kCookieFile).string());
    }
    if (homeUnwritable_ || CookieStore::Shared().SaveFailed()) {
        WarnHomeNotWritable();
    }
}

void Session::WarnHomeNotWritable() {
    if (homeWarned_.exchange(true)) {
        return;
    }
    front_.ShowMessage(kHomeNotWritable + baseFolder_.string());
}

bool Session::ChangeSettings(const std::function<bool(SettingsArea&)>& change) {
    SettingsUpdate update;
    {
        std::lock_guard lock(mutex_);
        update = UpdateSettings(settings_, baseFolder_, change);
    }
    if (update == SettingsUpdate::NotSaved) {
        WarnHomeNotWritable();
    }
    return update != SettingsUpdate::Unchanged;
}

SettingsArea Session::Settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

SaveOptions Session::SaveRules(int site) const {
    std::lock_guard lock(mutex_);
    return settings_.save.at(static_cast<std::size_t>(site));
}

DownloadParams Session::DownParams(int site) const {
    std::lock_guard lock(mutex_);
    return settings_.down.at(static_cast<std::size_t>(site));
}

void Session::SetSaveRules(int site, const SaveOptions& rules) {
    ChangeSettings([&](SettingsArea& settings) {
        settings.save.at(static_cast<std::size_t>(site)) = rules;
        return true;
    });
}

void Session::SetDownParams(int site, const DownloadParams& params) {
    ChangeSettings([&](SettingsArea& settings) {
        settings.down.at(static_cast<std::size_t>(site)) = params;
        return true;
    });
}

bool Session::AddRecent(RecentKind kind, const std::string& text) {
    return ChangeSettings(
        [&](SettingsArea& settings) { return brenvik::AddRecent(settings, kind, text); });
}

ExtendedSettings Session::Extended() const {
    std::lock_guard lock(mutex_);
    return extended_;
}

void Session::ReloadExtended() {
    ExtendedSettings fresh = ReadExtendedSettings(baseFolder_);
    std::lock_guard lock(mutex_);
    extended_ = fresh;
}

std::string Session::OwnerName() const {
    std::lock_guard lock(mutex_);
    return ownerName_;
}

std::string Session::OwnerSuffix() const {
    std::lock_guard lock(mutex_);
    return ownerSuffix_;
}

std::string Session::SiteText() const {
    std::lock_guard lock(mutex_);
    return siteText_;
}

void Session::SetOwnerName(std::string text) {
    std::lock_guard lock(mutex_);
    ownerName_ = std::move(text);
}

void Session::SetOwnerSuffix(std::string text) {
    std::lock_guard lock(mutex_);
    ownerSuffix_ = std::move(text);
}

void Session::SetSiteText(std::string text) {
    std::lock_guard lock(mutex_);
    siteText_ = std::move(text);
}

std::string Session::ViewHost() const {
    std::lock_guard lock(mutex_);
    return viewHost_;
}

void Session::SetViewHost(std::string text) {
    std::lock_guard lock(mutex_);
    viewHost_ = std::move(text);
}

std::string Session::AddressText() const {
    std::lock_guard lock(mutex_);
    return addressText_;
}

void Session::SetAddressText(std::string text) {
    std::lock_guard lock(mutex_);
    addressText_ = std::move(text);
}

RunChoices Session::Choices() const {
    std::lock_guard lock(mutex_);
    return choices_;
}

void Session::SetRunChoices(const RunChoices& choices) {
    std::lock_guard lock(mutex_);
    choices_ = choices;
}

std::string Session::FirstAddress() const {
    std::lock_guard lock(mutex_);
    return firstAddress_;
}

void Session::SetFirstAddress(std::string address) {
    std::lock_guard lock(mutex_);
    firstAddress_ = std::move(address);
}

std::filesystem::path Session::SavingFolder() const {
    std::lock_guard lock(mutex_);
    return savingFolder_;
}

void Session::SetSavingFolder(std::filesystem::path folder) {
    std::lock_guard lock(mutex_);
    savingFolder_ = std::move(folder);
}

void Session::RememberListedSite() {
    listedSubKind_ = subKind.load();
    listedSite_ = siteIndex.load();
}

void Session::UseListedSite() {
    const int site = listedSite_;
    if (site < 0) {
        return;
    }
    siteIndex = site;
    subKind = listedSubKind_.load();
}

}  // namespace brenvik
