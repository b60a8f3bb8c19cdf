// The test programs' entry: run in the decoder role (as a process with threads starts its decoder
// process), a test program serves as the decoder process; otherwise it runs its tests.
#include "engine/picture/qvdecoderprocess.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qvEnterDecoderRoleIfAsked(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
