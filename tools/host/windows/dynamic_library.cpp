#include <fmt/format.h>
#include <windows.h>

#include <string>

#include "host/dynamic_library.h"
#include "engine/error.h"
#include "engine/text.h"
#include "host/windows/wide_text.h"

namespace su55if::host {

using engine::Error;
using engine::printable;

const char *const kLibraryFileName = "su55if.dll";
const char *const kLibraryFormat = "PE";

namespace {

constexpr const char *kFolders[] = {""};

// The system's text for an error code, without the line break it ends with,
// and with "the file" where it has a place for a name ("%1").
std::string systemMessage(DWORD error) {
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::string text = length > 0 ? narrow(std::wstring_view(buffer, length)) : fmt::format("error {}", error);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    for (std::size_t at = text.find("%1"); at != std::string::npos; at = text.find("%1", at)) {
        text.replace(at, 2, "the file");
    }
    return text;
}

}  // namespace

const std::span<const char *const> kInstalledLibraryFolders = kFolders;

DynamicLibrary::DynamicLibrary(const std::string &path) {
    // A name without a folder would be looked up on the DLL search path; the
    // user means the file.
    std::wstring file = wide(path);
    if (file.find_first_of(L"\\/:") == std::wstring::npos) {
        file = L".\\" + file;
    }
    handle_ = LoadLibraryW(file.c_str());
    if (handle_ == nullptr) {
        const DWORD error = GetLastError();
        throw Error(fmt::format("cannot load the library: {}: {}", printable(path), systemMessage(error)));
    }
}

DynamicLibrary::~DynamicLibrary() = default;

void *DynamicLibrary::symbol(const std::string &name, std::string &error) const {
    const FARPROC address = GetProcAddress(static_cast<HMODULE>(handle_), name.c_str());
    if (address == nullptr) {
        error = systemMessage(GetLastError());
        return nullptr;
    }
    return reinterpret_cast<void *>(address);
}

std::string executableDirectory() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    const std::size_t slash = buffer.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::string() : narrow(std::wstring_view(buffer).substr(0, slash));
}

bool pathExists(const std::string &path) { return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace su55if::host
