#pragma once
// Test sequences: the file's tokens, the store of nodes and actions, and the runner; the CSV logger.

#include "sequence/LogFile.h"
#include "sequence/TestSequence.h"
#include "sequence/TokenReader.h"
