#include "host/input_files.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "engine/error.h"
#include "engine/text.h"

namespace su55if::host {

namespace {

engine::Diagnostic cannotRead(const std::string &path, std::string message) {
    engine::Diagnostic d = engine::diagnostic(engine::DiagnosticKind::cannotRead, std::move(message));
    d.file = path;
    return d;
}

class FileSource final : public engine::ByteSource {
public:
    FileSource(std::FILE *file, const std::string &path, std::string_view kind)
        : file_(file), path_(path), kind_(kind) {}
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;
    ~FileSource() override {
        if (file_ != stdin) {
            std::fclose(file_);
        }
    }

    std::size_t read(char *buffer, std::size_t size) override {
        const std::size_t n = std::fread(buffer, 1, size, file_);
        if (n == 0 && std::ferror(file_) != 0) {
            throw engine::Error(cannotRead(path_, fmt::format("cannot read the {}: {}", kind_, std::strerror(errno))));
        }
        return n;
    }

private:
    std::FILE *file_;
    std::string path_;
    std::string kind_;
};

}  // namespace

std::unique_ptr<engine::ByteSource> openFile(const std::string &path, std::string_view kind) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        throw engine::Error(cannotRead(path, fmt::format("cannot open the {}: {}", kind, std::strerror(errno))));
    }
    return std::make_unique<FileSource>(file, path, kind);
}

std::unique_ptr<engine::ByteSource> standardInput(std::string_view kind) {
    return std::make_unique<FileSource>(stdin, "-", kind);
}

}  // namespace su55if::host
