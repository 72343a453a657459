#pragma once
// The core never includes Qt.
#include <QString>
