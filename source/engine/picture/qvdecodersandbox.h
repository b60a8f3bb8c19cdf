// qvdecodersandbox: what a decoding child gives up before the first byte of
// its picture reaches a decoder. FreeImage's decoders have known memory
// faults, and a file that exploits one runs its own code in the child; from
// then on that code can do only what a decoding needs: map memory (never
// executable), read and write the descriptors and segments the child already
// holds, start threads, read clocks, signal itself and end. It gains no
// privileges (no set-user-ID program), starts no process, opens no file or
// socket, attaches no segment, reaches no other process and lifts none of
// its limits.
#pragma once

// Puts the calling process, and every thread it starts, under the decoders'
// system-call filter for good. 0 once it holds; otherwise the errno with
// which the kernel refused it (one built without seccomp), the process then
// running on without it.
int qvEnterDecoderSandbox();

// Builds the filter once without loading it, in the decoder process before
// it forks a child: the filter library's calls into the C library are bound
// there, and every child finds them bound, where each would look them up
// afresh (a fresh process's first lookup reads the symbol tables of every
// library the program loaded).
void qvBindDecoderSandbox();
