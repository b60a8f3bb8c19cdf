// The picture files of imagebytes.h, and what the texture loader makes of
// them where a test needs its errors.
#pragma once

#include "imagebytes.h"
#include "engine/gl/qvloadimage.h"

#include <string>
#include <vector>

namespace imagefixtures {

// The message of the error that building a cube map of those faces raised;
// empty when none.
inline std::string skyError(const std::vector<std::string>& faces)
{
    try {
        TextureLoader().loadCubemap(faces);
    } catch (const QvResourceError& error) {
        return error.what();
    }
    return {};
}

}  // namespace imagefixtures
