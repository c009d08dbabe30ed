#include "app/pdf_file.h"

#include <unistd.h>

namespace ms {

bool readRest(int fd, std::string& text) {
  char block[65536];
  ssize_t got = 0;
  while ((got = ::read(fd, block, sizeof block)) > 0) text.append(block, static_cast<std::size_t>(got));
  return got == 0;
}

bool endsAsPdf(std::string_view pdf) {
  constexpr std::size_t kTail = 64;
  return pdf.substr(pdf.size() > kTail ? pdf.size() - kTail : 0).find("%%EOF") != std::string_view::npos;
}

}  // namespace ms
