#include "plugin/app_title.h"

void ApplicationTitleFromPath(const char* path, LeadByteTest isLeadByte, char* title,
                              std::size_t titleSize) {
  if (title == nullptr || titleSize == 0) {
    return;
  }
  title[0] = '\0';
  if (path == nullptr) {
    return;
  }

  // One pass over the path, character by character: remember where the file
  // name starts and where its last dot is.
  std::size_t nameStart = 0;
  std::size_t nameEnd = 0;  // the last dot of the file name, or the end
  bool dotSeen = false;
  std::size_t i = 0;
  while (path[i] != '\0') {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (isLeadByte != nullptr && isLeadByte(byte) && path[i + 1] != '\0') {
      i += 2;
      continue;
    }
    if (byte == '\\' || byte == '/') {
      nameStart = i + 1;
      dotSeen = false;
    } else if (byte == '.') {
      nameEnd = i;
      dotSeen = true;
    }
    ++i;
  }
  if (!dotSeen) {
    nameEnd = i;
  }

  // Copy whole characters while they fit, leaving room for the terminator.
  std::size_t out = 0;
  std::size_t in = nameStart;
  while (in < nameEnd) {
    const auto byte = static_cast<unsigned char>(path[in]);
    const std::size_t width =
        (isLeadByte != nullptr && isLeadByte(byte) && in + 1 < nameEnd) ? 2 : 1;
    if (out + width >= titleSize) {
      break;
    }
    for (std::size_t k = 0; k < width; ++k) {
      title[out++] = path[in++];
    }
  }
  title[out] = '\0';
}
