// Filled in as the shell extension arrives.
#pragma once

#include "win32_types.h"
