// UTF-8, the host's text everywhere, to and from the UTF-16 of Windows' own
// functions (used by the *_windows.cpp files only).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace su55if::host {

inline std::wstring wide(std::string_view text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    }
    return result;
}

inline std::string narrow(std::wstring_view text) {
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr,
                            nullptr);
    }
    return result;
}

}  // namespace su55if::host
