#pragma once
// The bus protocol: the engine that holds the plant and ticks, and the bus of each line with its
// scanner, router, receive queue and request slots.

#include "protocol/Bus.h"
#include "protocol/Engine.h"
