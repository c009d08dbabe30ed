#include "job/run_checks.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <utility>

#include "reports/common/output_file.h"
#include "reports/common/publication.h"
#include "run/run_state.h"
#include "values/fault.h"
#include "values/text_rules.h"

namespace ms {

namespace {

// Megabytes, whole: what is needed rounded up, what is free rounded down, so
// that a refusal never shows the two alike.
std::string megabytes(double bytes, bool roundUp) {
  return plainText(roundUp ? std::ceil(bytes / 1e6) : std::floor(bytes / 1e6)) + " MB";
}

// Free room on the file system of `path`, in bytes, and the file system.
std::pair<double, dev_t> freeRoom(const std::string& path) {
  struct statvfs room {};
  struct stat where {};
  if (::statvfs(path.c_str(), &room) != 0 || ::stat(path.c_str(), &where) != 0) return {-1, 0};
  return {static_cast<double>(room.f_bavail) * static_cast<double>(room.f_frsize), where.st_dev};
}

// What the folder needs for the Post Office files and the PDF: about
// kOutputBytesPerRecord a record.
constexpr double kOutputBytesPerRecord = 160;
constexpr double kOutputBytesFixed = 4e6;

std::string limitMessage(const std::string& field, const std::string& shown) {
  return field + " in parmcode is " + shown +
         ": it must be a number greater than 0 to make a job. The run stops and nothing has been written.";
}

}  // namespace

bool cannotRank(RunState& run) {
  bool inForce = false;
  attempt([&] { inForce = run.regionalSequencing(); });
  return inForce && run.sortcodes.empty();
}

std::string roomRefusal(const std::string& databasePath, double records) {
  const std::string folder = std::filesystem::current_path().string();
  auto [folderFree, folderDevice] = freeRoom(".");
  double folderNeeds = kOutputBytesFixed + records * kOutputBytesPerRecord;
  std::error_code error;
  const auto size = std::filesystem::file_size(databasePath, error);
  if (!error) {
    std::string databaseFolder = std::filesystem::path(databasePath).parent_path().string();
    auto [databaseFree, databaseDevice] = freeRoom(databaseFolder.empty() ? "." : databaseFolder);
    if (databaseDevice == folderDevice)
      folderNeeds += static_cast<double>(size);
    else if (databaseFree >= 0 && databaseFree < static_cast<double>(size))
      return roomMessage(databasePath, static_cast<double>(size), databaseFree);
  }
  if (folderFree >= 0 && folderFree < folderNeeds) return roomMessage(folder, folderNeeds, folderFree);
  return {};
}

void checkFilesCanBeWritten() {
  for (const std::string& name : Publication::outputNames()) {
    OutputFile probe;
    ::close(probe.create(name));
  }
}

std::string limitRefusal(RunState& run, double& bagMax, double& weight, double& bundleMax) {
  const std::pair<const char*, double*> limits[] = {
      {"BagMax", &bagMax}, {"Weight", &weight}, {"BundleMax", &bundleMax}};
  for (const auto& [name, value] : limits) {
    const Value field = run.parmrs->field(name);
    if (field.isNull()) return notNumberMessage(name, field);
    try {
      *value = field.number();
    } catch (const RunError&) {
      return notNumberMessage(name, field);
    }
    if (!(*value > 0) || !std::isfinite(*value)) return notPositiveMessage(name, *value);
  }
  if (bundleMax < 1) return smallBundleMessage(bundleMax);
  const double whole = std::trunc(bagMax / weight);
  if (!(whole <= std::numeric_limits<std::int32_t>::max())) return manyItemsMessage(bagMax, weight);
  return {};
}

std::string cannotRankMessage(const std::string& postcode) {
  return "The posting postcode \"" + postcode +
         "\" finds no selection with region ranks, so this job cannot be sequenced by region. "
         "The run stops and nothing has been written.";
}

std::string notPositiveMessage(const std::string& field, double value) {
  return limitMessage(field, plainText(value));
}

std::string notNumberMessage(const std::string& field, const Value& value) {
  return limitMessage(field, value.isNull() ? "Null" : "\"" + value.text() + "\"");
}

std::string manyItemsMessage(double bagMax, double weight) {
  return "BagMax " + plainText(bagMax) + " with an item Weight of " + plainText(weight) +
         " gives more items per bag than can be counted. The run stops and nothing has been written.";
}

std::string smallBundleMessage(double bundleMax) {
  return "BundleMax in parmcode is " + plainText(bundleMax) +
         ": a bundle must hold at least one item. The run stops and nothing has been written.";
}

std::string textCodeMessage() {
  return "The field mscode of kvwork holds values that are not texts, so its selections would not come "
         "together. Change them into texts. The run stops and nothing has been written.";
}

std::string textSeqMessage() {
  return "The field seq of kvwork holds texts, not numbers, so the sort numbers would sort as texts. "
         "Change its type to a number type. The run stops and nothing has been written.";
}

std::string roomMessage(const std::string& place, double needs, double free) {
  return "There is not room enough for this run in " + place + ": it needs about " + megabytes(needs, true) +
         " and " + megabytes(free, false) +
         " are free. Make room and run the job again. "
         "The run stops and nothing has been written.";
}

std::string emptyBagMessage(double bagMax, double weight) {
  return "A bag holds no item: BagMax " + plainText(bagMax) + " with an item Weight of " + plainText(weight) +
         " leaves no whole item per bag. The run stops and nothing has been written.";
}

}  // namespace ms
