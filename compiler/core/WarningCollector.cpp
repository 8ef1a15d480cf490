#include "WarningCollector.h"

#include <string>
#include <utility>

namespace VantorCompiler {
namespace {

const char* const Ellipsis = "\xE2\x80\xA6";  // …

// The longest start of text within size bytes that ends on a character boundary.
std::string_view cut(std::string_view text, std::size_t size) {
    if (text.size() <= size)
        return text;
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80)
        --size;
    return text.substr(0, size);
}

}  // namespace

void WarningCollector::add(std::string_view text, std::uint32_t line, std::uint32_t column) {
    if (full_) {
        ++skipped_;
        return;
    }
    Warning w;
    if (text.size() > MaxTextBytes) {
        const std::string_view head = cut(text, MaxTextBytes - 3);
        w.text.reserve(head.size() + 3);
        w.text.append(head.data(), head.size());
        w.text += Ellipsis;
    } else {
        w.text.assign(text.data(), text.size());
    }
    if (bytes_ + w.text.size() > MaxTotalBytes) {
        full_ = true;
        ++skipped_;
        return;
    }
    w.line = line;
    w.column = line ? column : 0;
    bytes_ += w.text.size();
    kept_.push_back(std::move(w));
    full_ = kept_.size() >= MaxKept;
}

void WarningCollector::skip(std::size_t count) { skipped_ += count; }

std::vector<Warning> WarningCollector::take() {
    std::vector<Warning> result = std::move(kept_);
    if (skipped_ > 0) {
        Warning more;
        more.text = std::string(Ellipsis) + " and " + std::to_string(skipped_) +
                    (skipped_ == 1 ? " more warning" : " more warnings");
        result.push_back(std::move(more));
    }
    kept_.clear();
    bytes_ = 0;
    skipped_ = 0;
    full_ = false;
    return result;
}

std::string otherFilePlace(std::uint64_t line, std::string_view path) {
    std::string text = " (on line " + std::to_string(line);
    if (!path.empty()) {
        text += " of ";
        text.append(path.data(), path.size());
    }
    return text + ')';
}

}  // namespace VantorCompiler
