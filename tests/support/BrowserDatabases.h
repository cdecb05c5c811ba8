// Browser cookie databases built the way Firefox and Chromium keep them, for tests.
#pragma once

#include <filesystem>
#include <string>

namespace brenvik::test::browser {

// Firefox's "cookies.sqlite" with the given INSERT statements.
void MakeFirefoxDatabase(const std::filesystem::path& file, const std::string& rows);
std::string FirefoxRow(const std::string& host, const std::string& name, const std::string& value,
                       long long expiry, int secure = 0, int httpOnly = 0);

// Chromium's "Cookies" database of the given version with the given INSERT statements.
void MakeChromiumDatabase(const std::filesystem::path& file, int version, const std::string& rows);
std::string ChromiumRow(const std::string& host, const std::string& name, const std::string& value,
                        const std::string& encrypted, long long expiresUtc);
// What Chromium on Linux stores without a keyring: "v10" and AES-128-CBC under a key made
// from the fixed password.
std::string EncryptV10(const std::string& plain);
// The same under another password, as "v11" values use the keyring's.
std::string EncryptWithPassword(const std::string& plain, const std::string& password,
                                const std::string& mark);
// Chromium counts microseconds since 1601.
long long ChromiumTime(long long unixSeconds);

}  // namespace brenvik::test::browser
