// The whole default data set, written into one folder.
#pragma once

#include <string>
#include <vector>

namespace assetgen {

// Paths of the files writeDataSet produces, relative to its folder.
std::vector<std::string> dataSetFiles();

// Writes every file into `folder` (created when missing). Same bytes on every run. Returns false,
// after a message on standard error, when a file cannot be written.
bool writeDataSet(const std::string& folder);

} // namespace assetgen
