// The name a DLL gives itself in its export directory, read from the bytes
// of a Binary row: which of our libraries a row holds, whatever the row is
// called.
#include "package.h"

#include <cstdint>

namespace wirecheck {
namespace {

class Image {
  public:
    explicit Image(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}

    bool Has(std::uint64_t offset, std::uint64_t size) const {
        return offset <= bytes_.size() && size <= bytes_.size() - offset;
    }
    std::uint32_t U16(std::uint64_t offset) const {
        return Has(offset, 2) ? bytes_[offset] | bytes_[offset + 1] << 8 : 0;
    }
    std::uint32_t U32(std::uint64_t offset) const {
        return Has(offset, 4) ? U16(offset) | U16(offset + 2) << 16 : 0;
    }
    // A relative virtual address as a file offset, through the section table.
    std::uint64_t Offset(std::uint32_t rva, std::uint64_t sections, std::uint32_t count) const {
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint64_t section = sections + 40 * std::uint64_t{i};
            std::uint32_t address = U32(section + 12), size = U32(section + 16);
            std::uint32_t raw = U32(section + 20);
            if (rva >= address && rva - address < size)
                return std::uint64_t{raw} + (rva - address);
        }
        return bytes_.size();
    }
    std::string Text(std::uint64_t offset) const {
        std::string text;
        while (Has(offset, 1) && bytes_[offset] != 0 && text.size() < 260)
            text.push_back(static_cast<char>(bytes_[offset++]));
        return text;
    }

  private:
    const std::vector<unsigned char>& bytes_;
};

} // namespace

std::string DllExportName(const std::vector<unsigned char>& bytes) {
    Image image(bytes);
    if (image.U16(0) != 0x5A4D) // "MZ"
        return "";
    std::uint64_t pe = image.U32(0x3C);
    if (image.U32(pe) != 0x00004550) // "PE\0\0"
        return "";
    std::uint32_t sectionCount = image.U16(pe + 6);
    std::uint32_t optionalSize = image.U16(pe + 20);
    std::uint64_t optional = pe + 24;
    std::uint32_t magic = image.U16(optional);
    // The export directory is the first data directory: at 96 in a PE32
    // optional header, at 112 in a PE32+ one.
    std::uint64_t directory = optional + (magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0);
    if (directory == optional || !image.Has(directory, 8))
        return "";
    std::uint32_t exportsRva = image.U32(directory);
    if (exportsRva == 0)
        return "";
    std::uint64_t sections = optional + optionalSize;
    std::uint64_t exports = image.Offset(exportsRva, sections, sectionCount);
    std::uint32_t nameRva = image.U32(exports + 12);
    if (!image.Has(exports, 40) || nameRva == 0)
        return "";
    return image.Text(image.Offset(nameRva, sections, sectionCount));
}

} // namespace wirecheck
