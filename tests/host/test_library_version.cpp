// The version text that su55if-host --version reads from a library file:
// found wherever it lies in the file (across the reader's 1 MiB chunks too),
// and only when a plausible version follows the marker.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "engine/error.h"
#include "host/library_file.h"
#include "host/library_version.h"
#include "su55if.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMiB = std::size_t{1} << 20;

std::optional<std::string> versionOfFileWith(const std::string &content) {
    const fs::path path = fs::temp_directory_path() / ("su55if-version-" + std::to_string(getpid()));
    std::ofstream(path, std::ios::binary) << content;
    std::optional<std::string> version = su55if::host::libraryFileVersion(path.string());
    fs::remove(path);
    return version;
}

std::string text(std::string_view s) { return std::string(s.data(), s.size()); }

TEST(LibraryVersion, FoundOnlyWhereAVersionFollowsTheMarker) {
    using namespace std::string_literals;
    const std::string marked = "su55if version 1.2.3\0"s;
    struct Case {
        const char *what;
        std::string content;
        std::optional<std::string> version;
    };
    const Case cases[] = {
        {"at the start", marked + "rest", "1.2.3"},
        {"after other bytes", std::string(1000, '\xff') + marked, "1.2.3"},
        {"across the first chunk boundary", std::string(kMiB - 7, 'x') + marked, "1.2.3"},
        {"in the second chunk", std::string(kMiB + 100, '\0') + marked, "1.2.3"},
        {"after a marker with no version", "su55if version \0"s + marked, "1.2.3"},
        {"after one not ended by NUL", "su55if version 9.9.9 of"s + marked, "1.2.3"},
        {"after one not starting with a digit", "su55if version x\0"s + marked, "1.2.3"},
        {"none: marker at the very end", std::string(100, 'x') + "su55if version 1.2", std::nullopt},
        {"none: version too long", "su55if version "s + std::string(40, '1') + '\0', std::nullopt},
        {"none: no marker", std::string(3 * kMiB, 'v'), std::nullopt},
        {"none: empty file", "", std::nullopt},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(versionOfFileWith(c.content), c.version) << c.what;
    }
}

TEST(LibraryVersion, TheBuiltLibraryCarriesTheHeadersVersion) {
    EXPECT_EQ(su55if::host::libraryFileVersion(SU55IF_LIBRARY_FILE), text(SU55IF_VERSION_STRING));
}

TEST(LibraryVersion, AFileThatCannotBeReadIsAnError) {
    EXPECT_THROW(su55if::host::libraryFileVersion("/nonexistent/libsu55if.so"), su55if::engine::Error);
}

}  // namespace

namespace {

// The crafted library files that the Python package judges too: each whole
// (for this system or another) or refused with the words verdicts.txt gives.
TEST(LibraryFile, CraftedFilesAreJudgedAsThePackageJudgesThem) {
    const fs::path folder = SU55IF_LIBRARY_SAMPLES;
    std::ifstream verdicts(folder / "verdicts.txt");
    std::string line;
    int files = 0;
    while (std::getline(verdicts, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::size_t gap = line.find(' ');
        const std::string name = line.substr(0, gap);
        const std::string verdict = line.substr(line.find_first_not_of(' ', gap));
        std::string fault;
        try {
            su55if::host::checkLibraryFile((folder / name).string());
        } catch (const su55if::engine::Error &error) {
            fault = error.what();
        }
        if (verdict == "whole") {
            EXPECT_TRUE(fault.empty() || fault.find("a library for another system") != std::string::npos)
                << name << ": " << fault;
        } else {
            EXPECT_NE(fault.find(verdict), std::string::npos) << name << ": " << fault;
        }
        ++files;
    }
    EXPECT_GE(files, 10);
}

}  // namespace

