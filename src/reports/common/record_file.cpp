#include "reports/common/record_file.h"

#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "reports/common/publication.h"

namespace ms {

namespace {

// Characters 0x80 to 0x9F of Windows-1252 and the code points they stand
// for; 0 marks the five bytes the code page leaves undefined.
constexpr char32_t kHighControls[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                        0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char toCodePage(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i)
    if (kHighControls[i] != 0 && kHighControls[i] == c) return static_cast<char>(0x80 + i);
  return '?';
}

// Decodes one UTF-8 sequence at `i` and steps past it; a malformed one
// gives U+FFFD and steps over one byte.
char32_t decode(const std::string& s, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  std::size_t extra = 0;
  if (lead >= 0xC2 && lead <= 0xDF)
    extra = 1;
  else if (lead >= 0xE0 && lead <= 0xEF)
    extra = 2;
  else if (lead >= 0xF0 && lead <= 0xF4)
    extra = 3;
  if (extra == 0 || i + extra >= s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t c = lead & (0x3F >> extra);
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(s[i + k]);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (next & 0x3F);
  }
  i += 1 + extra;
  return c;
}

// A large write buffer: the files are written in one sequential pass.
constexpr std::size_t kBufferSize = 1 << 20;

}  // namespace

void appendWindows1252(const std::string& utf8, std::string& out) {
  std::size_t i = 0;
  while (i < utf8.size()) {
    // A run of plain ASCII goes over as it is.
    std::size_t end = i;
    while (end < utf8.size() && static_cast<unsigned char>(utf8[end]) - 1u < 0x7Fu) ++end;
    out.append(utf8, i, end - i);
    i = end;
    if (i == utf8.size()) break;
    if (utf8[i] == 0) {  // a NUL is no character of the code page either
      out.push_back('?');
      ++i;
    } else {
      out.push_back(toCodePage(decode(utf8, i)));
    }
  }
}

void quoteInto(std::string& out, const std::string& text) {
  out.assign(1, '"');
  out += text;
  out.push_back('"');
}

std::string quoted(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  quoteInto(out, text);
  return out;
}

RecordFile::~RecordFile() {
  attempt([&] { close(); });
}

void RecordFile::open(const std::string& path, Publication* publication) {
  close();
  publication_ = publication;
  int fd = -1;
  try {
    fd = output_.create(path);
  } catch (const RunError& failure) {
    notCreated_ = failure.fault();
    throw;
  }
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    const int error = errno;
    ::close(fd);
    output_.discard();
    notCreated_ = Fault::Io;
    throw RunError(Fault::Io, "could not be created: " + systemMessage(error), output_.name());
  }
  buffer_ = std::make_unique<char[]>(kBufferSize);
  if (std::setvbuf(file_, buffer_.get(), _IOFBF, kBufferSize) != 0) buffer_.reset();
}

void RecordFile::writeRecord(const std::vector<std::string>& fields) {
  if (!file_) {
    if (notCreated_)
      throw RunError(*notCreated_, "record lost, as the file could not be written", output_.name());
    return;
  }
  if (writeError_) failWrite();
  // Fields are joined and converted into room kept from record to record.
  bytes_.clear();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) bytes_.push_back(',');
    appendWindows1252(fields[i], bytes_);
  }
  bytes_ += "\r\n";
  const std::string& bytes = bytes_;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    writeError_ = errno ? errno : EIO;
    failWrite();
  }
}

void RecordFile::failWrite() {
  throw RunError(Fault::Io, "could not be written: " + systemMessage(writeError_), output_.name());
}

void RecordFile::close() {
  notCreated_.reset();
  if (!file_) return;
  std::FILE* file = std::exchange(file_, nullptr);
  // A write error has been told by the record that met it and every one
  // after; only one that the flush or close meets is told here.
  const bool told = writeError_ != 0;
  int error = writeError_;
  if (std::fflush(file) != 0 && !error) error = errno;
  if (std::fclose(file) != 0 && !error) error = errno;
  buffer_.reset();
  writeError_ = 0;
  complete(output_, publication_);
  if (error && !told)
    throw RunError(Fault::Io, "could not be written: " + systemMessage(error), output_.name());
}

}  // namespace ms
