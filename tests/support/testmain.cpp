// The test programs' entry: run in the decoder role (as a process with threads starts its decoder
// process), a test program serves as the decoder process; otherwise it runs its tests.
#include "engine/picture/qvdecodercrossing.h"
#include "engine/picture/qvdecoderprocess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string_view>

int main(int argc, char** argv)
{
    qvEnterDecoderRoleIfAsked(argc, argv);
    // Asked for the role and still here: running the tests would start each test's decoder process again.
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]).starts_with(qvcrossing::decoderRole))
            return std::fputs("Asked to serve as the decoder process, the tests did not\n", stderr), 1;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
