#pragma once
// The model must not know the bus layer above it.
#include "protocol/Comms.h"
