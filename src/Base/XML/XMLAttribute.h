#pragma once
// `XMLAttribute` is declared with the node that owns it.
#include "Base/XML/XMLNode.h"
