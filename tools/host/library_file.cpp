#include "host/library_file.h"

#include <fmt/format.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/error.h"
#include "engine/text.h"
#include "host/dynamic_library.h"

namespace su55if::host {

using engine::Error;
using engine::printable;

namespace {

// The bytes of a file that the checks read: bounded reads at given offsets.
class FileBytes {
public:
    FileBytes(const std::string &path, std::uint64_t size) : file_(path, std::ios::binary), size_(size) {}

    std::uint64_t size() const { return size_; }

    // `count` bytes from `offset`, or none when they do not lie within the file.
    std::optional<std::vector<unsigned char>> read(std::uint64_t offset, std::uint64_t count) {
        if (offset > size_ || count > size_ - offset) {
            return std::nullopt;
        }
        std::vector<unsigned char> bytes(count);
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(count));
        if (!file_) {
            return std::nullopt;
        }
        return bytes;
    }

private:
    std::ifstream file_;
    std::uint64_t size_;
};

// An unsigned field of `width` bytes at `at`, in the byte order given.
std::uint64_t field(const std::vector<unsigned char> &bytes, std::size_t at, std::size_t width, bool bigEndian) {
    std::uint64_t value = 0;
    for (std::size_t k = 0; k < width; ++k) {
        const std::size_t index = bigEndian ? at + k : at + width - 1 - k;
        value = (value << 8) | bytes.at(index);
    }
    return value;
}

// Whether `count` entries of `size` bytes from `offset` lie within the file.
bool within(std::uint64_t fileSize, std::uint64_t offset, std::uint64_t count, std::uint64_t size) {
    return offset <= fileSize && (size == 0 || count <= (fileSize - offset) / size);
}

// ELF: the header, the program headers, every segment's file part and the
// section headers. Returns what is wrong, or nothing. The Python package
// reads a library file as this does (tests/data/libraries holds files both
// judge).
std::string elfFault(FileBytes &file, const std::vector<unsigned char> &ident) {
    const bool wide = ident[4] == 2;  // ELFCLASS64; ELFCLASS32 is 1
    const bool bigEndian = ident[5] == 2;
    if ((ident[4] != 1 && ident[4] != 2) || (ident[5] != 1 && ident[5] != 2)) {
        return "an ELF file of a class or byte order no loader takes";
    }
    const auto header = file.read(0, wide ? 64 : 52);
    if (!header) {
        return "cut short: the ELF header is not whole";
    }
    const auto at = [&](std::size_t wideOffset, std::size_t narrowOffset, std::size_t wideWidth,
                        std::size_t narrowWidth) {
        return field(*header, wide ? wideOffset : narrowOffset, wide ? wideWidth : narrowWidth, bigEndian);
    };
    if (field(*header, 16, 2, bigEndian) != 3) {  // e_type ET_DYN
        return "an ELF file that is not a shared library";
    }
    const std::uint64_t programOffset = at(0x20, 0x1C, 8, 4);
    const std::uint64_t sectionOffset = at(0x28, 0x20, 8, 4);
    const std::uint64_t programSize = at(0x36, 0x2A, 2, 2);
    const std::uint64_t programCount = at(0x38, 0x2C, 2, 2);
    const std::uint64_t sectionSize = at(0x3A, 0x2E, 2, 2);
    const std::uint64_t sectionCount = at(0x3C, 0x30, 2, 2);
    if (programSize != (wide ? 56U : 32U) || programCount == 0) {
        return "an ELF file without the program headers a loader needs";
    }
    if (!within(file.size(), programOffset, programCount, programSize)) {
        return "cut short: the program headers lie past the end of the file";
    }
    if (sectionCount > 0 && !within(file.size(), sectionOffset, sectionCount, sectionSize)) {
        return "cut short: the section headers lie past the end of the file";
    }
    const auto table = file.read(programOffset, programCount * programSize);
    if (!table) {
        return "cut short: the program headers cannot be read";
    }
    for (std::uint64_t k = 0; k < programCount; ++k) {
        const std::size_t entry = static_cast<std::size_t>(k * programSize);
        const std::uint64_t offset = field(*table, entry + (wide ? 8 : 4), wide ? 8 : 4, bigEndian);
        const std::uint64_t size = field(*table, entry + (wide ? 32 : 16), wide ? 8 : 4, bigEndian);
        if (!within(file.size(), offset, 1, size)) {
            return fmt::format("cut short: segment {} ends at byte {} of a file of {}", k + 1,
                               offset + size < offset ? UINT64_MAX : offset + size, file.size());
        }
    }
    return {};
}

// PE: the headers and every section's raw data. The Python package reads
// a library file as this does (tests/data/libraries holds files both judge).
std::string peFault(FileBytes &file) {
    const auto dos = file.read(0, 64);
    if (!dos) {
        return "cut short: the DOS header is not whole";
    }
    const std::uint64_t pe = field(*dos, 0x3C, 4, false);
    const auto coff = file.read(pe, 24);
    if (!coff || (*coff)[0] != 'P' || (*coff)[1] != 'E' || (*coff)[2] != 0 || (*coff)[3] != 0) {
        return "not a DLL: no PE header where the DOS header points";
    }
    if ((field(*coff, 22, 2, false) & 0x2000U) == 0) {  // IMAGE_FILE_DLL
        return "a PE file that is not a DLL";
    }
    const std::uint64_t optionalSize = field(*coff, 20, 2, false);
    if (!file.read(pe + 24, optionalSize)) {
        return "cut short: the PE optional header is not whole";
    }
    const std::uint64_t sectionCount = field(*coff, 6, 2, false);
    const std::uint64_t sections = pe + 24 + optionalSize;
    const auto table = file.read(sections, sectionCount * 40);
    if (!table) {
        return "cut short: the section table lies past the end of the file";
    }
    for (std::uint64_t k = 0; k < sectionCount; ++k) {
        const std::size_t entry = static_cast<std::size_t>(k * 40);
        const std::uint64_t size = field(*table, entry + 16, 4, false);
        const std::uint64_t offset = field(*table, entry + 20, 4, false);
        if (size > 0 && !within(file.size(), offset, 1, size)) {
            return fmt::format("cut short: section {} ends at byte {} of a file of {}", k + 1, offset + size,
                               file.size());
        }
    }
    return {};
}

// A library file of the format given, as messages name it.
std::string_view formatName(std::string_view format) {
    return format == "ELF" ? "an ELF shared library (as Linux loads)" : "a Windows DLL";
}

}  // namespace

void checkLibraryFile(const std::string &path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    std::string fault;
    std::string_view format;
    if (error) {
        fault = error.message();
    } else if (!std::filesystem::is_regular_file(status)) {
        fault = "not a regular file";
    } else {
        FileBytes file(path, std::filesystem::file_size(path, error));
        const auto magic = file.read(0, 16);
        if (error) {
            fault = error.message();
        } else if (magic && (*magic)[0] == 0x7F && (*magic)[1] == 'E' && (*magic)[2] == 'L' && (*magic)[3] == 'F') {
            fault = elfFault(file, *magic);
            format = "ELF";
        } else if (magic && (*magic)[0] == 'M' && (*magic)[1] == 'Z') {
            fault = peFault(file);
            format = "PE";
        } else {
            fault = "not a shared library";
        }
    }
    // Whole, but for another system: its loader's message would not say so.
    if (fault.empty() && format != kLibraryFormat) {
        fault = fmt::format("{}, not {}: a library for another system", formatName(format),
                            formatName(kLibraryFormat));
    }
    if (!fault.empty()) {
        throw Error(fmt::format("cannot load the library: {}: {}", printable(path), fault));
    }
}

}  // namespace su55if::host
