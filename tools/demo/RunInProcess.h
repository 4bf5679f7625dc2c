// Runs one application script of the demo in a process of its own, as each game is: the
// product library is loaded fresh (and reads its configuration for that executable), and a
// run that crashes is reported instead of ending the demo.
#pragma once

#include "RunSummary.h"

#include "sim/app/AppScript.h"
#include "sim/gpus/MachineDesc.h"

#include <functional>
#include <string>

namespace demo {

/// Runs `body` in a child process and returns what it wrote through `exchangeFile`; a child
/// that ends without writing gets a failed summary naming how it ended.
RunSummary runInChildProcess(const sim::app::AppScript& script, const std::string& exchangeFile,
                             const std::function<RunSummary()>& body);

/// The text the report uses for a script's path.
std::string pathText(const sim::app::AppScript& script);

} // namespace demo
