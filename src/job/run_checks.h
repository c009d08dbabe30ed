// What a run checks before it touches a record, and the texts of the jobs
// it refuses: a job that cannot be sequenced by region, limits that make no
// job, a work table whose fields would sort wrongly, a folder or database
// without room, a folder the run may not write.
#pragma once

#include <string>

#include "values/value.h"

namespace ms {

struct RunState;

// Texts of the jobs the run refuses before it touches a record.
std::string cannotRankMessage(const std::string& postcode);
std::string emptyBagMessage(double bagMax, double weight);
std::string notPositiveMessage(const std::string& field, double value);
std::string notNumberMessage(const std::string& field, const Value& value);
std::string manyItemsMessage(double bagMax, double weight);
std::string smallBundleMessage(double bundleMax);
std::string textSeqMessage();
std::string textCodeMessage();
std::string roomMessage(const std::string& place, double needs, double free);

// A job whose posting postcode gives no region ranks cannot be sequenced
// by region; without Regional Sequencing the ranks are not needed.
bool cannotRank(RunState& run);

// The limits that make a job, each a finite number above 0, read into
// `bagMax`, `weight` and `bundleMax`: items per bag and bundles per bag are
// counted from them. The text of the refusal; empty when they do.
std::string limitRefusal(RunState& run, double& bagMax, double& weight, double& bundleMax);

// Whether the folder and the database have room for the run: the Post Office
// files and the PDF in the folder, and, for a database file, its log, which
// may grow to the size of the file while the run holds its work. The text of
// the refusal; empty when there is room.
std::string roomRefusal(const std::string& databasePath, double records);

// Each file the run writes can be created in the folder: a temporary file
// beside each name is made and removed again. Fails naming the file.
void checkFilesCanBeWritten();

}  // namespace ms
