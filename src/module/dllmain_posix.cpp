#include "frame/startup.h"

namespace {

// The Linux twin of the process-attach notification.
__attribute__((constructor)) void OnLoad() { velto::ModuleStartup(); }

}  // namespace
