// The process-wide fault-injection callbacks (all null in the program).
#include "platform/fault_hooks.h"

namespace platform {

FaultHooks fault_hooks;

void reset_fault_hooks() { fault_hooks = FaultHooks{}; }

}  // namespace platform
