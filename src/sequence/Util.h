#pragma once
// Test sequences: the file's tokens, the store of nodes and actions, and the runner.

#include "sequence/TestSequence.h"
#include "sequence/TokenReader.h"
