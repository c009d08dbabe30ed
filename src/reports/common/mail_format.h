// The job's mail format, `Format` in the Job Parameters: the codes the suite
// writes, in the order the reports test them, and what each means to the
// reports. Each report keeps its own way with a code that is not here.
#pragma once

#include <string_view>

namespace ms {

// Which steps of the standard price table price one item.
enum class StandardSteps { Letter, LargeLetter, Packet };

struct MailFormat {
  std::string_view code;
  std::string_view name;          // as the reports print it under "Mail Format"
  std::string_view tariffPrefix;  // of its discount, band and price columns in the Mailsort tariff
  StandardSteps standardSteps;
};

inline constexpr MailFormat kMailFormats[] = {
    {"LE", "Letter", "Le", StandardSteps::Letter},
    {"LL", "Large Letter", "LL", StandardSteps::LargeLetter},
    {"A3", "A3 Packet", "A3", StandardSteps::Packet},
    {"PK", "Packet", "PK", StandardSteps::Packet},
};

// The format whose code is `code` exactly; null for any other text.
inline const MailFormat* findMailFormat(std::string_view code) {
  for (const MailFormat& format : kMailFormats)
    if (format.code == code) return &format;
  return nullptr;
}

}  // namespace ms
