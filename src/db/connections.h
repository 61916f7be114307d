// One open database per file: every channel that names the same file works
// on the same engine object, so a row deleted through one is gone for all.
#pragma once

#include <memory>
#include <string>

#include "jet/database.h"

namespace db {

// The open database for `path`, opening it through `os` when no channel
// holds it yet.
std::shared_ptr<jet::Database> openShared(const std::string& path, jet::Os& os = jet::systemOs());

}  // namespace db
