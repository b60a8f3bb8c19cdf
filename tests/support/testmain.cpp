// The test programs' entry: run in the decoder role, a test program serves
// as the decoder process (a process with threads starts one so); otherwise
// it runs its tests.
#include "engine/picture/qvdecoderprocess.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qvEnterDecoderRoleIfAsked(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
