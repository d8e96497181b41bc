#pragma once
// AutoLibInitialize lives beside LibInitialize; this header names it.
#include "Base/BaseTypes/LibInitialize.h"
