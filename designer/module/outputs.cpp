#include "module/outputs.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "engine/error.h"

namespace su55if::designer {
namespace {

#ifndef SU55IF_DESIGNER_OUTPUT_LIMIT
#define SU55IF_DESIGNER_OUTPUT_LIMIT (256u << 20)
#endif
constexpr std::size_t kOutputLimit = SU55IF_DESIGNER_OUTPUT_LIMIT;

}  // namespace

MemoryStream::MemoryStream()
    : stream_(fopencookie(this, "w", cookie_io_functions_t{nullptr, &MemoryStream::write, nullptr, nullptr})) {
    if (stream_ == nullptr) {
        throw std::bad_alloc();
    }
}

MemoryStream::~MemoryStream() { std::fclose(stream_); }

// The C library's write function: -1, with errno set, for bytes that do not
// fit, so that the stream's error flag is set too; nothing is thrown
// through the C library.
ssize_t MemoryStream::write(void *self, const char *data, std::size_t size) {
    MemoryStream &stream = *static_cast<MemoryStream *>(self);
    if (stream.full_ || size > kOutputLimit - stream.text_.size()) {
        stream.full_ = true;
        errno = EFBIG;
        return -1;
    }
    try {
        stream.text_.append(data, size);
    } catch (const std::bad_alloc &) {
        stream.full_ = true;
        errno = ENOMEM;
        return -1;
    }
    return static_cast<ssize_t>(size);
}

std::string MemoryStream::take() {
    std::fflush(stream_);
    return std::exchange(text_, std::string());
}

const char *Outputs::full() const {
    for (const char *name : {"stdout", "chart", "stderr"}) {
        if (named(name).full()) {
            return name;
        }
    }
    return nullptr;
}

const MemoryStream &Outputs::named(const char *name) const {
    return std::strcmp(name, "stdout") == 0 ? data : std::strcmp(name, "chart") == 0 ? chart : messages;
}

void FullOutputStop::write(const engine::TimelineRow & /*row*/) {
    if (outputs_.full() != nullptr) {
        throw engine::Error("an output is full");  // result() says which, and how full
    }
}

}  // namespace su55if::designer
