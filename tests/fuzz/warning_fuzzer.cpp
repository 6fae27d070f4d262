// libFuzzer target for the warning forwarder: arbitrary bytes as the text of
// a "%s", and formats assembled from plain text, "%s", "%d" and "%%" pieces.
// On every input the host must receive one terminated text of at most 1023
// bytes: the formatted text with each per-cent sign doubled, whole if that
// fits, else its longest prefix that does, never half a pair.
#include "host/binding.h"
#include "host/warning.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string received;
int host_calls = 0;

void host_warning(const char* text, ...) {
  ++host_calls;
  // Reading past the forwarder's buffer here would be reported by ASan.
  const std::size_t length = strnlen(text, klarvoss::dl_warning_capacity);
  if (length >= klarvoss::dl_warning_capacity) std::abort();  // unterminated
  received.assign(text, length);
}

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  std::string bytes(std::size_t count) {
    count = count < size ? count : size;
    std::string out(reinterpret_cast<const char*>(data), count);
    data += count;
    size -= count;
    return out;
  }
};

struct Conversion {
  bool is_text;
  std::string text;
  int number;
};

// Calls the forwarder with arguments of the types the conversions ask for.
template <class... Args>
void warn(const char* format, const std::vector<Conversion>& conversions, std::size_t next,
          Args... args) {
  if constexpr (sizeof...(Args) < 4) {
    if (next < conversions.size()) {
      const Conversion& c = conversions[next];
      if (c.is_text) return warn(format, conversions, next + 1, args..., c.text.c_str());
      return warn(format, conversions, next + 1, args..., c.number);
    }
  }
  mi_warning(format, args...);
}

// What the host should receive for a formatted text.
std::string expected_for(const std::string& formatted) {
  const std::string cut = formatted.substr(0, klarvoss::dl_warning_capacity - 1);
  std::string out;
  for (char c : cut) {
    const std::size_t width = c == '%' ? 2 : 1;
    if (out.size() + width > klarvoss::dl_warning_capacity - 1) break;
    out.append(width, c);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  klarvoss::dl_slots[static_cast<std::size_t>(klarvoss::HostEntry::mi_warning)].store(
      reinterpret_cast<void*>(&host_warning));
  Input in{data, size};
  std::string formatted;
  host_calls = 0;

  if (in.byte() % 2 == 0) {
    const std::string text = in.bytes(in.size);
    mi_warning("%s", text.c_str());
    formatted = text.c_str();  // up to the first zero byte, as %s reads it
  } else {
    std::string format;
    std::vector<Conversion> conversions;
    while (in.size > 0 && conversions.size() < 4) {
      switch (in.byte() % 4) {
        case 0: {  // plain text: no per-cent sign, no zero byte
          std::string text = in.bytes(in.byte());
          for (char& c : text) c = (c == '%' || c == '\0') ? '#' : c;
          format += text;
          formatted += text;
          break;
        }
        case 1: {
          const std::string text = in.bytes(in.byte() * 8u);
          conversions.push_back({true, text, 0});
          format += "%s";
          formatted += text.c_str();
          break;
        }
        case 2: {
          int number;
          const std::string raw = in.bytes(sizeof number) + std::string(sizeof number, '\0');
          std::memcpy(&number, raw.data(), sizeof number);
          conversions.push_back({false, {}, number});
          format += "%d";
          formatted += std::to_string(number);
          break;
        }
        default:
          format += "%%";
          formatted += '%';
      }
    }
    warn(format.c_str(), conversions, 0);
  }

  if (host_calls != 1 || received != expected_for(formatted)) std::abort();
  return 0;
}
