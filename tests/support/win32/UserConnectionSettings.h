#pragma once
// The proxy a user sets in Windows' Internet settings, written where Windows keeps it (the
// registry value those settings are in, as the system writes it) for the length of a test.
// Built for Windows only.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

// The settings as Windows keeps them: a version, a counter, the flags (direct, proxy), then each
// text after its length: the proxy, the bypass list, the script's address.
inline std::string ConnectionSettings(const std::string& proxy, const std::string& bypass)
{
    std::string blob;
    const auto word = [&blob](DWORD value) { blob.append(reinterpret_cast<const char*>(&value), sizeof value); };
    for (DWORD value : {0x46, 1, 0x3})
        word(value);
    for (const std::string& text : {proxy, bypass, std::string()}) {
        word(static_cast<DWORD>(text.size()));
        blob += text;
    }
    return blob + std::string(32, '\0');
}

// Sets the user's connection settings for the test, and puts back what was there.
class UserConnectionSettings {
public:
    UserConnectionSettings()
    {
        EXPECT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key,
                                    nullptr), ERROR_SUCCESS);
        DWORD size = 4096;
        m_saved.resize(size);
        m_had = ::RegQueryValueExW(m_key, L"DefaultConnectionSettings", nullptr, nullptr, m_saved.data(), &size) ==
                ERROR_SUCCESS;
        m_saved.resize(m_had ? size : 0);
    }
    ~UserConnectionSettings()
    {
        if (m_had)
            ::RegSetValueExW(m_key, L"DefaultConnectionSettings", 0, REG_BINARY, m_saved.data(),
                             static_cast<DWORD>(m_saved.size()));
        else
            ::RegDeleteValueW(m_key, L"DefaultConnectionSettings");
        ::RegCloseKey(m_key);
    }
    UserConnectionSettings(const UserConnectionSettings&) = delete;
    UserConnectionSettings& operator=(const UserConnectionSettings&) = delete;

    void Set(const std::string& blob)
    {
        EXPECT_EQ(::RegSetValueExW(m_key, L"DefaultConnectionSettings", 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()),
                                   static_cast<DWORD>(blob.size())), ERROR_SUCCESS);
    }
    void Remove() { ::RegDeleteValueW(m_key, L"DefaultConnectionSettings"); }

private:
    static constexpr const wchar_t* kConnections =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    HKEY m_key = nullptr;
    bool m_had = false;
    std::vector<unsigned char> m_saved;
};
