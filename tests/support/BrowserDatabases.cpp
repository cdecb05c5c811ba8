#include "support/BrowserDatabases.h"

#include <openssl/evp.h>
#include <sqlite3.h>

#include <algorithm>

#include <gtest/gtest.h>

namespace brenvik::test::browser {

namespace {

void Execute(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

}  // namespace

void MakeFirefoxDatabase(const std::filesystem::path& file, const std::string& rows) {
    std::filesystem::create_directories(file.parent_path());
    Execute(file,
            "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT, name TEXT, "
            "value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, creationTime "
            "INTEGER, isSecure INTEGER, isHttpOnly INTEGER, inBrowserElement INTEGER, sameSite "
            "INTEGER, rawSameSite INTEGER, schemeMap INTEGER);" +
                rows);
}

std::string FirefoxRow(const std::string& host, const std::string& name, const std::string& value,
                       long long expiry, int secure, int httpOnly) {
    return "INSERT INTO moz_cookies (name, value, host, path, expiry, isSecure, isHttpOnly) "
           "VALUES ('" +
           name + "', '" + value + "', '" + host + "', '/', " + std::to_string(expiry) + ", " +
           std::to_string(secure) + ", " + std::to_string(httpOnly) + ");";
}

std::string EncryptV10(const std::string& plain) {
    return EncryptWithPassword(plain, "peanuts", "v10");
}

std::string EncryptWithPassword(const std::string& plain, const std::string& password,
                                const std::string& mark) {
    unsigned char key[16];
    PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()),
                           reinterpret_cast<const unsigned char*>("saltysalt"), 9, 1, 16, key);
    unsigned char iv[16];
    std::fill(std::begin(iv), std::end(iv), ' ');
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::string out(plain.size() + 32, '\0');
    int written = 0;
    int last = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(out.data());
    EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key, iv);
    EVP_EncryptUpdate(ctx, bytes, &written, reinterpret_cast<const unsigned char*>(plain.data()),
                      static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(ctx, bytes + written, &last);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<std::size_t>(written + last));
    return mark + out;
}

static std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

void MakeChromiumDatabase(const std::filesystem::path& file, int version, const std::string& rows) {
    std::filesystem::create_directories(file.parent_path());
    Execute(file,
            "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);"
            "INSERT INTO meta VALUES ('version', '" +
                std::to_string(version) +
                "');"
                "CREATE TABLE cookies(creation_utc INTEGER, host_key TEXT, top_frame_site_key "
                "TEXT, name TEXT, value TEXT, encrypted_value BLOB, path TEXT, expires_utc "
                "INTEGER, is_secure INTEGER, is_httponly INTEGER);" +
                rows);
}

std::string ChromiumRow(const std::string& host, const std::string& name, const std::string& value,
                        const std::string& encrypted, long long expiresUtc) {
    return "INSERT INTO cookies (host_key, name, value, encrypted_value, path, expires_utc, "
           "is_secure, is_httponly) VALUES ('" +
           host + "', '" + name + "', '" + value + "', X'" + Hex(encrypted) + "', '/', " +
           std::to_string(expiresUtc) + ", 1, 0);";
}

long long ChromiumTime(long long unixSeconds) {
    return (unixSeconds + 11644473600LL) * 1000000LL;
}

}  // namespace brenvik::test::browser
