// Shared main of every test program: the library's initialisers run before the
// first test (as the plug-in's load hook runs them) and finish after the last.
#include <gtest/gtest.h>

#include "Base/BaseTypes/AutoLibInitialize.h"
#include "Base/BaseTypes/VString.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  tvan::AutoLibInitialize init(tvan::VString("KEF_TEST"), false, false);
  return RUN_ALL_TESTS();
}
