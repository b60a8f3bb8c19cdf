// qvdecoderprocess: every picture decoded apart from the program. A small
// process, started from the program (forked while the program has one
// thread, later the program's own file run in a decoder role), forks a
// fresh child for each picture the program sends it, the program sending as
// many at once as its memory budget admits; the child attaches the bytes the
// program read into shared memory (never the path), runs FreeImage under
// limits of memory and processor time that follow from the picture its
// header describes, and writes the pixels into a second shared segment,
// whose header the program copies and checks, and whose rows it uses in
// place where no other process holds that segment any longer (a copy of
// them otherwise). A crash, an abort, a limit reached or a decoder that
// stops working becomes the picture's reason, and the program goes on as
// for any picture it cannot read; a decoder process that ends is started
// anew. The limits are qvdecoderlimits', the decoder process and its
// children qvdecoderserver's.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include <sys/types.h>

#include "engine/picture/qvdecodedpicture.h"
#include "engine/picture/qvdecoderlimits.h"
#include "engine/picture/qvdecodingrun.h"
#include "engine/picture/qvpicturedecode.h"
#include "engine/picture/qvpicturefile.h"

// Serves as the decoder process and never returns when `argv` asks for that
// role (the program's own file run by qvStartDecoderProcess); otherwise
// notes that this program knows the role. Call it in main before anything
// that starts a thread.
void qvEnterDecoderRoleIfAsked(int argc, char** argv);

// Starts the decoder process: forked while this process has one thread
// (call it before GLFW and the GL driver start theirs: forking is cheaper),
// later, a process with threads being unsafe to fork, by running this
// program's own file in the decoder role, where the program knows the role
// (qvEnterDecoderRoleIfAsked). True when it runs; while it runs later calls
// do nothing.
bool qvStartDecoderProcess();

// The program's link with its decoder process, through which a decoding run
// (qvdecodingrun) sends its requests and hears their endings.
namespace qvdecoderlink {
// Starts the decoder process unless one runs; why none runs, empty when one
// does.
std::string start();
// The program's end of the socket to the decoder process; -1 when none runs.
int socket();
// Takes the decoder process's first words: who it is (`decoder`), and how
// the trial of its children's system-call filter ended (`filterTrial`),
// said once in this process where they decode without it. False when it
// has said them before: no decoder process says them twice.
bool hello(pid_t decoder, int filterTrial);
// Forgets the decoder process, ending it first when `end` (it no longer
// answers).
void drop(bool end);
}  // namespace qvdecoderlink

// Decodes one picture file apart. Nothing, with the reason in `error`, when
// it cannot be decoded, its decoder crashed, reached a limit, stopped
// working or was killed, or the decoder process could not be started (the
// user's process limit leaves no room for it), is not running (and cannot
// be: this process has threads by now and its program does not know the
// decoder role) or has stopped.
std::optional<QvDecodedPicture> qvDecodeApart(const QvPictureFile& file, const QvDecodeRequest& request,
                                              std::string& error,
                                              std::optional<QvDecoderLimits> limits = std::nullopt);
// The same for bytes already in memory, whose name says the format `named`
// (FIF_UNKNOWN: it says none).
std::optional<QvDecodedPicture> qvDecodeApart(std::span<const std::uint8_t> bytes, FREE_IMAGE_FORMAT named,
                                              const QvDecodeRequest& request, std::string& error);
