// Which kind of module answered: its generation and model name, told from
// the platform identifier and software word it reports.
//
// The generation chooses request forms and data layouts elsewhere (the
// read-serial request, the IMEI write, the service gateway); 0 means that the
// module is of no known kind.
#pragma once

#include <cstdint>

namespace tavo {

struct ModuleKind {
  int32_t generation;
  const char* modelName;
};

ModuleKind ClassifyModule(uint32_t platformId, uint32_t softwareWord);

}  // namespace tavo
