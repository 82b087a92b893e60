// CSectionUpgrader: carries saved section data into a module section whose
// layout version may differ.
//
// A module's software release can change the layout of a parameter section;
// the section header's version byte says which layout an image has. The
// configuration file describes, per platform, chains of layout versions: the
// section "SECTION_<platform key>_<id>_<version>" names the next version up
// and down ("UPDATE") and holds the byte patches ("UPGRADE") that turn data
// of the previous layout in the chain into its own. A restore copies the
// saved payload into the module's current image and walks the chain from
// the saved version, applying each patch on the way.
//
// The platform key is that of the module being restored, so that on a
// station with modules of two platforms each restore follows its own chains.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavo {
class CConfigFile;
}

namespace tavo::data {

class CSectionUpgrader {
 public:
  // A chain is never longer than the number of layout versions a header can
  // name; a longer walk can only be a chain that leads back into itself.
  static constexpr int kMaxChainSteps = 256;
  // Tokens of a patch formula are at most this many characters.
  static constexpr std::size_t kMaxTokenLength = 15;

  CSectionUpgrader() = default;
  // The configuration file whose chains are followed (none: no chain is
  // configured) and the "P%08X" key of the module's platform.
  void SetConfig(const CConfigFile* config, std::string platformKey);

  // Copies the saved payload into moduleImage (min of both header sizes
  // less the header; the module's header stays) and, when the two versions
  // differ, applies in order the formula of every section the chain reaches
  // from "SECTION_<key>_<id>_<saved version>", upward when the module's
  // version is the higher. Both are whole images, header included. A header
  // size beyond its buffer is taken at the buffer's size; one below the
  // 8-byte header (or a buffer shorter than a header) gives no payload, so
  // nothing is ever read or written outside the buffers. 1 (also when no
  // config is set or no chain is configured), 206 (a chain link to another
  // platform's or kind's section, or a chain that loops), or ApplyFormula's
  // status.
  int32_t UpgradeSection(std::span<const uint8_t> savedImage, std::vector<uint8_t>& moduleImage,
                         int32_t sectionId) const;

  // Applies a patch formula to the first imageSize bytes of image: tokens
  // separated by commas; "@<hex>" sets the write position (an offset into
  // the whole image, header included), "<hex>" stores one byte there and
  // advances; bytes before the first "@" and empty tokens are ignored.
  // Numbers read like the C "%X" conversion (either case, optional sign and
  // "0x"), whole tokens only. 1; 207 for a position outside the image, a
  // byte stored past its end, or a malformed "@" token; 208 for a byte value
  // outside 0 to 0xFF or a malformed byte token (even one before the first
  // "@"). A token over kMaxTokenLength characters is malformed. Bytes stored
  // before a failing token stay stored.
  static int32_t ApplyFormula(uint8_t* image, std::size_t imageSize, std::string_view formula);

 private:
  const CConfigFile* config_ = nullptr;
  std::string platformKey_;
};

}  // namespace tavo::data
