#include "app/Session.h"

namespace brenvik {

Session::Session(std::filesystem::path baseFolder, FrontEnd& frontEnd)
    : baseFolder_(std::move(baseFolder)), front_(frontEnd) {
    settings_ = LoadSettings(baseFolder_);
    extended_ = ReadExtendedSettings(baseFolder_);
}

SettingsArea Session::Settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

ST_SAVESET Session::SaveRules(int site) const {
    std::lock_guard lock(mutex_);
    return settings_.save.at(static_cast<std::size_t>(site));
}

ST_DOWNPARAM Session::DownParams(int site) const {
    std::lock_guard lock(mutex_);
    return settings_.down.at(static_cast<std::size_t>(site));
}

void Session::SetSaveRules(int site, const ST_SAVESET& rules) {
    std::lock_guard lock(mutex_);
    settings_.save.at(static_cast<std::size_t>(site)) = rules;
    SaveSettings(settings_, baseFolder_);
}

void Session::SetDownParams(int site, const ST_DOWNPARAM& params) {
    std::lock_guard lock(mutex_);
    settings_.down.at(static_cast<std::size_t>(site)) = params;
    SaveSettings(settings_, baseFolder_);
}

bool Session::AddRecent(RecentKind kind, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!brenvik::AddRecent(settings_, kind, text)) {
        return false;
    }
    SaveSettings(settings_, baseFolder_);
    return true;
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

std::string Session::FirstAddress() const {
    std::lock_guard lock(mutex_);
    return firstAddress_;
}

void Session::SetFirstAddress(std::string address) {
    std::lock_guard lock(mutex_);
    firstAddress_ = std::move(address);
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
