// The domain's example cycles compiled into the module, for a page's
// gallery: each file as it is in examples/, and what its leading comment
// says, in prose.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace su55if::designer {

// A file of the gallery as compiled in (gallery_files.cpp.in).
struct GalleryFile {
    const char *name;
    const char *text;
};
extern const GalleryFile kGalleryFiles[];
extern const std::size_t kGalleryFileCount;

struct GalleryExample {
    std::string name;
    std::string text;
    // The leading comment's prose: its lines joined, without the command
    // lines it shows (indented ones), a colon that led to them a full stop.
    std::string description;
    // What those command lines check the file with: --beds N, --time-unit U.
    std::optional<int> beds;
    std::string timeUnit;
};

GalleryExample galleryExample(const GalleryFile &file);
std::vector<GalleryExample> gallery();

}  // namespace su55if::designer
