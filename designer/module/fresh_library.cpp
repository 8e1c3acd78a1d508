#include "module/fresh_library.h"

#include "schedule/stage_table.h"

namespace su55if::designer {

// No call of the library runs meanwhile: the module makes one call at a time.
FreshLibrary::FreshLibrary() { stageTable = StageTable{}; }

}  // namespace su55if::designer
