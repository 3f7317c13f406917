#include "tool_state.h"

char base_directory[kPathSize];
