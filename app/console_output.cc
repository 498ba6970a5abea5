#include "app/console_output.h"

#include "text/codepage.h"

namespace quillmere {

std::string ConsoleOutput::ConsoleText(std::string_view line) {
  const std::string utf8 = GbkToUtf8(line);
  std::string text;
  text.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
      text += '?';  // C0 controls and DEL
    } else if (byte == 0xC2 && i + 1 < utf8.size() &&
               static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
      text += '?';  // C1 controls, U+0080 to U+009F: C2 80 to C2 9F
      ++i;
    } else {
      text += utf8[i];
    }
  }
  return text;
}

void ConsoleOutput::Append(std::string_view line) {
  std::string text = ConsoleText(line);
  text += '\n';
  std::lock_guard lock(mutex_);
  std::fwrite(text.data(), 1, text.size(), stream_);
  std::fflush(stream_);
}

}  // namespace quillmere
