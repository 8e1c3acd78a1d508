#include "module/gallery.h"

#include <sstream>
#include <string_view>

#include "engine/beds.h"

namespace su55if::designer {
namespace {

// The word after `option` in a command line ("--beds 4" gives "4"), or none.
std::optional<std::string> optionValue(const std::string &line, std::string_view option) {
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        if (word == option && words >> word) {
            return word;
        }
    }
    return std::nullopt;
}

}  // namespace

GalleryExample galleryExample(const GalleryFile &file) {
    GalleryExample example{file.name, file.text, {}, std::nullopt, {}};
    std::istringstream lines(example.text);
    std::string line;
    while (std::getline(lines, line) && !line.empty() && line.front() == '#') {
        const std::string content = line.substr(line.find_first_not_of('#') == std::string::npos
                                                    ? line.size() : line.find_first_not_of('#'));
        if (content.rfind("  ", 0) == 0) {
            // A command line: what it checks the file with, never its words.
            if (const std::optional<std::string> beds = optionValue(content, "--beds")) {
                example.beds = engine::bedCount(*beds);
            }
            example.timeUnit = optionValue(content, "--time-unit").value_or(example.timeUnit);
            if (!example.description.empty() && example.description.back() == ':') {
                example.description.back() = '.';
            }
            continue;
        }
        const std::size_t start = content.find_first_not_of(' ');
        if (start != std::string::npos) {
            example.description += (example.description.empty() ? "" : " ") + content.substr(start);
        }
    }
    return example;
}

std::vector<GalleryExample> gallery() {
    std::vector<GalleryExample> list;
    for (std::size_t k = 0; k < kGalleryFileCount; ++k) {
        list.push_back(galleryExample(kGalleryFiles[k]));
    }
    return list;
}

}  // namespace su55if::designer
