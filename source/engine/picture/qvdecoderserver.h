// qvdecoderserver: the decoder process and its children. The decoder process
// keeps only its own descriptors and segments, forks a child for each picture
// the program asks for (the program decides how many run at once), ends a
// child that stops working, and tells how each ended. The child drops what it inherited,
// puts itself under its picture's limits, decodes the bytes it attaches and
// writes its result for the program (qvdecoderprocess) to take.
#pragma once

#include <string_view>

// Serves as the decoder process on `socket`, its end of the program's
// socket, until the program closes that or ends; then ends.
[[noreturn]] void qvServeDecoding(int socket);

// Serves as the decoder process in the program's own file run in the decoder
// role, `socketNumber` being the number of the socket it inherited, once
// more removed from the program, as when forked; ends at once when that is
// no socket.
[[noreturn]] void qvServeDecoderRole(std::string_view socketNumber);
